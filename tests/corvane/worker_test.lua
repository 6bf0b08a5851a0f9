-- Worker threads: set-up, jobs, timers, errors and stopping.
local check = require "check"
local kit = check.kit
local corvane = require "corvane"
local mc = require "qv_mcache"
local tm = require "qv_tmsg"

corvane.init()
for _, id in ipairs({ "w", "e", "t", "p", "b", "x", "fast", "slow" }) do
  tm.register(id .. ".out")
end

local next_message = check.message

check.case("setup and init get the argument, quit runs at the end", function()
  check.eq(corvane.create("w", 1, "w_probe", "w"), true)
  check.eq(check.wait(function() return mc.get("w.init") end), "w")
  check.eq(mc.get("w.setup"), "w")
  corvane.post("w", "rec", "", "")
  next_message("w.out")
  check.eq(corvane.destroy("w"), true)
  check.eq(mc.get("w.quit"), 1, "quit ran before destroy returned")
end)

check.case("jobs run in order with their texts whole", function()
  local h = corvane.open_thread("p", 1, "w_probe", "p")
  local ud = kit.stray()
  for i = 1, 50 do
    check.eq(h:post("rec", "job" .. i, "z\0z" .. i, ud), true)
  end
  for i = 1, 50 do
    local msg = next_message("p.out")
    check.eq(msg[1], "job" .. i)
    check.eq(msg[2], "z\0z" .. i, "embedded zero kept")
    check.eq(msg[4], ud, "the pointer travels untouched")
  end
  -- A fifth argument that is not a light userdata arrives as null.
  h:post("rec", "x", "", "not a pointer")
  check.eq(next_message("p.out")[4], kit.null())
  h:post("rec", "x", "", {})
  check.eq(next_message("p.out")[4], kit.null())
  h:close()
end)

check.case("a script error is reported and the worker goes on", function()
  local h = corvane.open_thread("e", 1, "w_probe", "e")
  h:post("err", "job failed on purpose", "")
  h:post("errt", "", "")
  h:post("errn", "", "")
  h:post("rec", "still here", "")
  check.eq(next_message("e.out")[1], "still here")
  h:close()
end)

check.case("a failing finalizer does not end the process", function()
  local h = corvane.open_thread("x", 1, "w_probe", "x")
  for _ = 1, 20 do
    h:post("gcbomb", "", "")
  end
  h:post("rec", "after", "")
  check.eq(next_message("x.out")[1], "after")
  h:close() -- closing the state runs the pending finalizers
end)

check.case("a module that fails to load still takes its jobs", function()
  for _, module in ipairs({ "w_broken", "w_raises", "no_such_module", "w_plain" }) do
    local h = corvane.open_thread("b", 1, module, "")
    for _ = 1, 5 do
      check.eq(h:post("rec", "", ""), true)
    end
    check.wait(function() local _, n = h:job_size() return n == 0 end, 5000, module .. " drains")
    h:close()
  end
end)

check.case("timers fire on idle passes and a bad result removes them", function()
  local h = corvane.open_thread("t", 1, "w_probe", "t")
  for id, mode in pairs({ [1] = "stay", [2] = "once", [3] = "text", [4] = "table", [5] = "raise" }) do
    mc.set("t.mode." .. id, mode)
    h:post("timer", tostring(id), "0")
    check.eq(next_message("t.out")[2], "true", "timer added")
  end
  check.wait(function() return (mc.get("t.timer.1") or 0) >= 20 end, 5000, "the staying timer")
  -- Returning 1, a text, a table or raising fires once and ends the timer.
  for id = 2, 5 do
    check.eq(mc.get("t.timer." .. id), 1, "timer " .. id)
  end
  h:post("timer", "1", "5")
  check.eq(next_message("t.out")[2], "false", "an id in use is refused")
  h:close()
end)

check.case("an idle worker passes once per interval", function()
  local t0 = kit.now_ms()
  local fast = corvane.open_thread("t", 0, "w_probe", "fast")
  local slow = corvane.open_thread("t", 100, "w_probe", "slow")
  fast:post("timer", "1", "0") -- fires on every idle pass
  slow:post("timer", "1", "0")
  -- A loaded machine makes both pass less often, never more.
  check.wait(function() return (mc.get("slow.timer.1") or 0) >= 3 end, 30000, "three passes at interval 100")
  local s = mc.get("slow.timer.1")
  local f = mc.get("fast.timer.1") or 0
  local elapsed = kit.now_ms() - t0
  fast:close()
  slow:close()
  check.truthy(s <= elapsed // 100 + 1, "interval 100: " .. s .. " passes in " .. elapsed .. " ms")
  check.truthy(f > 2 * s, "interval 0 (1 ms): " .. f .. " passes while interval 100 made " .. s)
end)

check.case("a posted job wakes a worker with a long idle interval", function()
  local h = corvane.open_thread("w", 60000, "w_probe", "w")
  check.wait(function() return mc.get("w.init") end)
  local t0 = kit.now_ms()
  h:post("rec", "wake", "")
  check.eq(next_message("w.out", 10000)[1], "wake")
  check.truthy(kit.now_ms() - t0 < 10000, "woken by the job, not by the interval")
  h:close() -- and the stop request ends its wait too
end)

check.case("the worker's tick moves with its loop", function()
  local h = corvane.open_thread("t", 1, "w_probe", "t")
  h:post("tick", "", "")
  local first = tonumber(next_message("t.out")[2])
  kit.sleep_ms(50)
  h:post("tick", "", "")
  local second = tonumber(next_message("t.out")[2])
  check.truthy(second - first >= 40, "tc advanced by " .. (second - first))
  h:close()
end)

check.case("a worker can't destroy itself or quit the module", function()
  check.eq(corvane.create("x", 1, "w_probe", "x"), true)
  corvane.post("x", "destroy_self", "", "")
  local msg = next_message("x.out")
  check.eq(msg[1], "destroy_self")
  check.eq(msg[2], "false")
  check.truthy(msg[3]:find("can't destroy itself", 1, true), msg[3])
  corvane.post("x", "quit_module", "", "")
  msg = next_message("x.out")
  check.eq(msg[2], "false")
  check.truthy(msg[3]:find("can't stop the module", 1, true), msg[3])
  check.eq(corvane.destroy("x"), true)
end)

check.case("workers post to each other", function()
  check.eq(corvane.create("p", 1, "w_probe", "p"), true)
  check.eq(corvane.create("w", 1, "w_probe", "w"), true)
  corvane.post("w", "post", "p", "rec")
  check.eq(next_message("w.out")[2], "true")
  check.eq(next_message("p.out")[1], "")
  corvane.destroy("p")
  corvane.destroy("w")
end)

check.case("the worker's state has the host's modules", function()
  local h = corvane.open_thread("w", 1, "w_probe", "w")
  h:post("modules", "", "")
  local msg = next_message("w.out")
  check.eq(msg[2], "qv_sys,qv_file,qv_hash,qv_snapshot,cjson,corvane,qv_mcache,qv_tmsg")
  check.eq(msg[3], "true", "clua_env is set")
  h:close()
end)

corvane.quit()
check.finish()
