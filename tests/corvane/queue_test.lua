-- qv_tmsg: named queues registered up front, then posted to and polled from
-- any state.
local check = require "check"
local kit = check.kit
local corvane = require "corvane"
check.after = function() pcall(corvane.quit, 0) end
local tm = require "qv_tmsg"

local function empty_get(name)
  local ok, a, b, c, ud = tm.get(name)
  check.eq(ok, false)
  check.eq(a, "")
  check.eq(b, "")
  check.eq(c, "")
  check.eq(ud, kit.null())
end

check.case("registration ends with the first use of any queue", function()
  corvane.init()
  check.eq(tm.register("q1"), true)
  check.eq(tm.register("q1"), false, "name taken")
  check.eq(tm.register("q2"), true)
  check.eq(tm.get("unknown"), false) -- freezes
  check.eq(tm.register("q3"), false, "frozen")
  check.eq(tm.post("q3", "a", "b", "c"), false)
  corvane.quit()
  corvane.init()
  check.eq(tm.register("q3"), true, "quit and init start afresh")
  check.eq(tm.clear("nope"), false)
  check.eq(tm.register("q4"), false, "clear froze it")
  corvane.quit()
  corvane.init()
  tm.post("nope", "", "", "")
  check.eq(tm.register("q4"), false, "post froze it")
  corvane.quit()
end)

check.case("jobs come out first in, first out, texts whole", function()
  corvane.init()
  tm.register("fifo")
  local ud = kit.stray()
  empty_get("fifo")
  for i = 1, 100 do
    check.eq(tm.post("fifo", "a" .. i, "b\0" .. i, "", i % 2 == 0 and ud or nil), true)
  end
  for i = 1, 100 do
    local ok, a, b, c, p = tm.get("fifo")
    check.eq(ok, true)
    check.eq(a, "a" .. i)
    check.eq(b, "b\0" .. i)
    check.eq(c, "")
    check.eq(p, i % 2 == 0 and ud or kit.null())
  end
  empty_get("fifo")
  empty_get("unknown")
  check.raises("bad argument #2 to 'qv_tmsg.post'", tm.post, "fifo")
  check.raises("bad argument #1 to 'qv_tmsg.get'", tm.get, {})
  corvane.quit()
end)

check.case("clear frees the queued jobs", function()
  corvane.init()
  tm.register("c")
  for _ = 1, 10 do
    tm.post("c", "x", "y", "z")
  end
  check.eq(tm.clear("c"), true)
  empty_get("c")
  -- quit frees what is still queued
  tm.post("c", "left", "", "")
  corvane.quit()
end)

check.case("workers and the controlling state share the queues", function()
  corvane.init()
  tm.register("a.out")
  tm.register("b.out")
  corvane.create("a", 1, "w_probe", "a")
  corvane.create("b", 1, "w_probe", "b")
  for i = 1, 200 do
    corvane.post(i % 2 == 0 and "a" or "b", "rec", tostring(i), "")
  end
  local seen = { a = 0, b = 0 }
  check.wait(function()
    for _, id in ipairs({ "a", "b" }) do
      local ok, x = tm.get(id .. ".out")
      if ok then
        seen[id] = seen[id] + 1
        local n = tonumber(x)
        check.eq(n % 2 == 0 and "a" or "b", id)
      end
    end
    return seen.a == 100 and seen.b == 100
  end, 10000, "200 answers")
  corvane.quit()
end)

check.finish()
