-- Does not compile.
return function(
