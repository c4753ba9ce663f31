// Compiled into a library whose layer has no sources yet, so that it still links.
