-- Many workers posting jobs and messages to each other while they share the
-- cache; bounded in count and time. Also run under ThreadSanitizer.
local check = require "check"
local kit = check.kit
local corvane = require "corvane"
local mc = require "qv_mcache"
local tm = require "qv_tmsg"

local WORKERS, HANDLES, JOBS, HOPS = 12, 4, 300, 8

check.case("jobs, messages and cache traffic between many workers", function()
  corvane.init(1024)
  tm.register("bus")
  local names = {}
  for i = 1, WORKERS do
    names[i] = "s" .. i
  end
  for i = 1, WORKERS do
    check.eq(corvane.create(names[i], 1, "w_stress", table.concat(names, " ", i) .. " " .. table.concat(names, " ", 1, i - 1)), true)
  end
  local handles = {}
  for i = 1, HANDLES do
    handles[i] = corvane.open_thread("h" .. i, 2, "w_stress", "h" .. i)
  end
  local ud = kit.stray()
  for j = 1, JOBS do
    local target = corvane.find_idle(names)
    check.truthy(target ~= "", "an idle worker")
    check.eq(corvane.post(target, "work", tostring(HOPS), "job" .. j, ud), true)
    handles[j % HANDLES + 1]:post("work", "0", "h", nil)
    if j % 50 == 0 then
      -- Churn: a worker that comes and goes while the traffic runs.
      corvane.create("churn", 1, "w_stress", "churn")
      corvane.post("churn", "work", "0", "", nil)
      corvane.destroy("churn")
    end
  end
  local want = JOBS * (HOPS + 1) + JOBS
  local total
  check.wait(function()
    total = 0
    for _, id in ipairs(names) do
      total = total + (mc.get(id .. ".done") or 0) + (mc.get(id .. ".lost") or 0)
    end
    for i = 1, HANDLES do
      total = total + (mc.get("h" .. i .. ".done") or 0)
    end
    return total >= want
  end, 60000, "all jobs")
  check.eq(total, want, "every job ran exactly once")
  check.eq(corvane.quit(), true)
  for _, h in ipairs(handles) do
    check.eq(h:status(), "close")
  end
  check.eq(kit.released(), kit.created(), "every stored object released once")
end)

check.finish()
