"""Demo NMDC hub for Kivo: modules lockkey, realfiles, population, search, peer, hub, cli."""
