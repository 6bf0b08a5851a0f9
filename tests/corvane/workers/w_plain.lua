-- A worker module without any of the functions the worker calls.
return {}
