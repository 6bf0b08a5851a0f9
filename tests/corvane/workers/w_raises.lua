-- Raises while it loads.
error("module failed to load")
