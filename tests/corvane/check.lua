-- Small test harness for the corvane scripts: named cases, assertions with
-- readable messages, bounded waits. A script ends with check.finish(), which
-- exits non-zero when a case failed.
local kit = require "corvane_testkit"

local check = { failed = 0, passed = 0 }

local function show(v)
  if type(v) == "string" then
    return string.format("%q", v)
  end
  return tostring(v)
end

function check.eq(got, want, what)
  if got ~= want and not (got ~= got and want ~= want) then
    error(string.format("%s: expected %s, got %s", what or "value", show(want), show(got)), 2)
  end
end

function check.truthy(v, what)
  if not v then
    error((what or "condition") .. " does not hold", 2)
  end
end

-- Runs fn and expects it to raise an error whose text contains pattern.
function check.raises(pattern, fn, ...)
  local ok, err = pcall(fn, ...)
  if ok then
    error("expected an error matching " .. show(pattern), 2)
  end
  if not tostring(err):find(pattern, 1, true) then
    error("error " .. show(tostring(err)) .. " does not contain " .. show(pattern), 2)
  end
end

-- Polls fn until it returns a true value or ms pass; returns that value.
function check.wait(fn, ms, what)
  local deadline = kit.now_ms() + (ms or 5000)
  repeat
    local v = fn()
    if v then
      return v
    end
    kit.sleep_ms(2)
  until kit.now_ms() > deadline
  error("timed out waiting for " .. (what or "a condition"), 2)
end

-- check.after, when set, runs after every case (to clean up what a failed
-- case left behind).
-- Waits (bounded) for the next job on the named queue: { s1, s2, s3, ud }.
function check.message(queue, ms)
  local tm = require "qv_tmsg"
  local msg
  check.wait(function()
    local ok, a, b, c, ud = tm.get(queue)
    if ok then
      msg = { a, b, c, ud }
    end
    return ok
  end, ms, "a message on " .. queue)
  return msg
end

function check.case(name, fn)
  local ok, err = xpcall(fn, debug.traceback)
  if check.after then
    check.after()
  end
  if ok then
    check.passed = check.passed + 1
    print("ok   " .. name)
  else
    check.failed = check.failed + 1
    print("FAIL " .. name .. "\n     " .. tostring(err))
  end
end

function check.finish()
  print(string.format("%d passed, %d failed", check.passed, check.failed))
  os.exit(check.failed == 0 and 0 or 1, true)
end

check.kit = kit
return check
