-- quit: every worker it knows ends before the queues and the cache go, and
-- a worker that does not end in time leaves them in place.
local check = require "check"
local kit = check.kit
local corvane = require "corvane"
check.after = function() pcall(corvane.quit, 0) end
local mc = require "qv_mcache"
local tm = require "qv_tmsg"

local function sorted_notes()
  local list = {}
  for note in kit.notes():gmatch("([^;]+)") do
    list[#list + 1] = note
  end
  table.sort(list)
  return table.concat(list, " ")
end

check.case("quit stops registered workers and handles; their quit() still has the cache", function()
  kit.notes()
  corvane.init()
  tm.register("r1.out")
  corvane.create("r1", 1, "w_probe", "r1")
  corvane.create("r2", 50, "w_probe", "r2")
  local h = corvane.open_thread("h", 1000, "w_probe", "h")
  check.wait(function() return mc.get("r1.init") and mc.get("r2.init") and mc.get("h.init") end)
  -- r1 is inside a job when quit comes; its queued jobs never run.
  corvane.post("r1", "nap", "200", "")
  for _ = 1, 20 do
    corvane.post("r1", "rec", "", "")
  end
  check.wait(function() return tm.get("r1.out") end, 5000, "r1 in its job")
  h:post("rec", "", "")
  check.wait(function() local _, n = h:job_size() return n == 0 end)
  check.eq(corvane.quit(), true)
  check.eq(sorted_notes(), "h:1:1 r1:1:1 r2:0:0")
  check.eq(h:status(), "close", "quit stopped the handle's worker")
  check.eq(h:post("rec", "", ""), false)
  check.eq(tostring(h), "corvane_thread:h-close-0")
  local ok, n = h:job_size()
  check.eq(ok, false)
  check.eq(n, 0)
  h:close()
  h:close()
end)

check.case("a handle opened before init is stopped by quit too", function()
  kit.notes()
  local h = corvane.open_thread("early", 1, "w_probe", "early")
  corvane.init()
  check.eq(corvane.quit(), true)
  check.eq(h:status(), "close")
  check.eq(sorted_notes(), "early:0:0")
end)

check.case("a worker stuck in a job: quit gives up after its bound and keeps the storage", function()
  kit.notes()
  corvane.init()
  tm.register("s.out")
  corvane.create("s", 1, "w_probe", "s")
  corvane.post("s", "nap", "3000", "")
  check.wait(function() return tm.get("s.out") end, 5000, "s in its job")
  local t0 = kit.now_ms()
  check.eq(corvane.quit(200), false)
  local waited = kit.now_ms() - t0
  check.truthy(waited >= 150, "waited " .. waited .. " ms")
  -- It did not wait for the worker: that one is still in its job.
  check.eq(kit.notes(), "", "the stuck worker has not ended")
  -- The module works again at once; the stuck worker ends on its own later.
  corvane.init()
  corvane.create("n", 1, "w_probe", "n")
  check.wait(function() return mc.get("n.init") end)
  check.wait(function() return kit.notes() ~= "" end, 10000, "the stuck worker's quit()")
  check.eq(corvane.quit(), true)
end)

check.case("a worker stuck across two quits", function()
  kit.notes()
  corvane.init()
  tm.register("s.out")
  corvane.create("s", 1, "w_probe", "s")
  corvane.post("s", "nap", "1500", "")
  check.wait(function() return tm.get("s.out") end, 5000, "s in its job")
  check.eq(corvane.quit(50), false)
  corvane.init()
  mc.set("k", "v")
  -- The stuck worker may use this round's storage too: it stays as well.
  check.eq(corvane.quit(50), false)
  check.wait(function() return kit.notes() ~= "" end, 10000, "the stuck worker's quit()")
  corvane.init()
  check.eq(mc.get("k"), nil)
  check.eq(corvane.quit(), true)
end)

check.case("a handle closed by its owner's state while quit stops both", function()
  kit.notes()
  corvane.init()
  tm.register("o.out")
  corvane.create("o", 1, "w_probe", "o")
  corvane.post("o", "open", "inner1", "")
  corvane.post("o", "open", "inner2", "")
  check.wait(function() return mc.get("inner1.init") and mc.get("inner2.init") end)
  check.eq(corvane.quit(), true)
  check.eq(sorted_notes(), "inner1:0:0 inner2:0:0 o:2:2")
end)

check.case("quit takes an optional bound in ms", function()
  corvane.init()
  check.raises("bad argument #1 to 'corvane.quit'", corvane.quit, "soon")
  check.eq(corvane.quit(0), true, "no worker: nothing to wait for")
end)

check.finish()
