-- Counts the jobs it gets under the cache key "<arg>.count" every 100 jobs
-- and at the end; a job "stop" sets "<arg>.done" with the total.
local mc = require "qv_mcache"
local ID = "?"
local n = 0
function setup(arg) ID = arg end
function on_cmd(a, b)
  n = n + 1
  if a == "stop" then
    mc.set(ID .. ".done", n)
  end
end
return {}
