-- The stress worker: every job touches shared and own cache keys, stores and
-- borrows objects, posts to and polls a named queue, and passes the job on
-- to a peer until its hop count runs out. The argument is "id peer peer ...".
local mc = require "qv_mcache"
local tm = require "qv_tmsg"
local corvane = require "corvane"
local kit = require "corvane_testkit"

local ID = "?"
local peers = {}
local n = 0

function setup(arg)
  for word in arg:gmatch("%S+") do
    if ID == "?" then
      ID = word
    else
      peers[#peers + 1] = word
    end
  end
end

function on_cmd(a, b, c, ud)
  n = n + 1
  local hops = tonumber(b) or 0
  mc.set("k" .. (n % 16), n)
  mc.get("k" .. ((n + 3) % 16))
  mc.set(ID .. ".text", string.rep("t\0", n % 300))
  mc.get(ID .. ".text")
  mc.set("f" .. (n % 4), n / 7)
  if n % 5 == 0 then
    mc.set("obj" .. (n % 6), kit.new_obj())
    mc.get("obj" .. ((n + 1) % 6))
  end
  tm.post("bus", ID, b, c, ud)
  tm.get("bus")
  if hops > 0 and #peers > 0 then
    local peer = peers[n % #peers + 1]
    -- A peer being churned may be gone: the hop then ends here, counted.
    if not corvane.post(peer, a, tostring(hops - 1), c, ud) then
      mc.set(ID .. ".lost", (mc.get(ID .. ".lost") or 0) + hops)
    end
  end
  mc.set(ID .. ".done", n)
end

function quit()
  mc.set(ID .. ".done", n)
end

return {}
