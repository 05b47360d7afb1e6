"""Demo NMDC hub for Kivo: modules wire, lockkey, realfiles, population, search, peer, hub, cli."""
