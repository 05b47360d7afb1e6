// Keeps the support library non-empty while its folder is.
