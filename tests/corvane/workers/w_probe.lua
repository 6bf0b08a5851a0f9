-- A worker module that the tests drive through jobs. Its argument is its id:
-- it reports on the named queue "<id>.out" and under cache keys "<id>.*".
local mc = require "qv_mcache"
local tm = require "qv_tmsg"
local sys = require "qv_sys"

local ID = "?"
local jobs = 0

local function out(a, b, c, ud)
  tm.post(ID .. ".out", tostring(a), tostring(b or ""), tostring(c or ""), ud)
end

function setup(arg)
  ID = arg
  mc.set(ID .. ".setup", arg)
  return 0
end

function init(arg)
  mc.set(ID .. ".init", arg)
  return 0
end

function quit()
  -- Reports through the test kit, which outlives the cache; a worker that
  -- outlived corvane.quit finds no cache.
  local stored = pcall(mc.set, ID .. ".quit", jobs)
  local ok, kit = pcall(require, "corvane_testkit")
  if ok then
    kit.note(ID .. ":" .. jobs .. ":" .. (stored and tostring(mc.get(ID .. ".quit")) or "no cache"))
  end
  return 0
end

-- Waits (bounded) until the cache holds key.
local function wait_key(key)
  for _ = 1, 10000 do
    if mc.get(key) ~= nil then
      return true
    end
    sys.sleep(1)
  end
  return false
end

local timer_modes = {
  stay = function() return 0 end,
  once = function() return 1 end,
  text = function() return "zero" end,
  table = function() return {} end,
  raise = function() error("timer failed") end,
}

local commands = {}

function commands.rec(b, c, ud)
  out(b, c, "", ud)
end

function commands.err(b)
  error(b)
end

function commands.errt()
  error(setmetatable({}, { __tostring = function() return "table error" end }))
end

function commands.errn()
  error({})
end

function commands.block(b)
  out("blocking", b)
  wait_key(b)
  out("unblocked", b)
end

function commands.sleep(b)
  sys.sleep(tonumber(b))
  out("slept", b)
end

function commands.nap(b)
  out("napping", b)
  sys.sleep(tonumber(b))
end

function commands.gcbomb()
  setmetatable({}, { __gc = function() error("finalizer failed") end })
end

-- Adds timer id b firing every c ms in the mode named by the cache key
-- "<id>.mode.<b>"; every firing counts under "<id>.timer.<b>".
function commands.timer(b, c)
  local id = tonumber(b)
  local mode = mc.get(ID .. ".mode." .. b) or "stay"
  local ok = sys.add_timer(id, tonumber(c), function(tid, count)
    mc.set(ID .. ".timer." .. b, count)
    return timer_modes[mode]()
  end)
  out("timer", tostring(ok))
end

function commands.tick()
  out("tick", tostring(sys.tc()))
end

function commands.set(b, c)
  out("set", tostring(mc.set(b, c)))
end

function commands.get(b)
  local v, t = mc.get(b)
  out(tostring(v), t)
end

-- Fetches an object, waits until the key has been replaced elsewhere, and
-- reports whether the object is still alive (not yet released).
function commands.hold(b, c)
  local p = mc.get(b)
  out("held", tostring(p ~= nil))
  wait_key(c)
  local kit = require "corvane_testkit"
  out("released", tostring(kit.released()))
end

function commands.post(b, c)
  local corvane = require "corvane"
  out("post", tostring(corvane.post(b, c, "", "")))
end

function commands.destroy_self()
  local corvane = require "corvane"
  local ok, err = pcall(corvane.destroy, ID)
  out("destroy_self", tostring(ok), tostring(err))
end

function commands.quit_module()
  local corvane = require "corvane"
  local ok, err = pcall(corvane.quit)
  out("quit_module", tostring(ok), tostring(err))
end

-- Opens a handle of a worker named b that this state keeps: it is closed by
-- the collector when this worker's state closes.
local kept = {}
function commands.open(b)
  local corvane = require "corvane"
  kept[#kept + 1] = corvane.open_thread(b, 1, "w_probe", b)
  out("open", b)
end

function commands.file(b)
  local f = require "qv_file"
  local h = f.open(b, "rb")
  local buf = f.read(h)
  f.close(h)
  out("file", tostring(mc.set(ID .. ".buf", buf)))
end

function commands.write(b)
  local f = require "qv_file"
  local h = f.open(b, "wb")
  local buf = mc.get(ID .. ".buf")
  local ok, n = f.write(h, buf)
  f.close(h)
  out("write", tostring(ok), tostring(n))
end

function commands.modules()
  local have = {}
  for _, name in ipairs({ "qv_sys", "qv_file", "qv_hash", "qv_snapshot", "cjson", "corvane", "qv_mcache", "qv_tmsg" }) do
    if pcall(require, name) then
      have[#have + 1] = name
    end
  end
  out("modules", table.concat(have, ","), tostring(clua_env ~= nil))
end

function on_cmd(a, b, c, ud)
  jobs = jobs + 1
  local fn = commands[a]
  if fn then
    fn(b, c, ud)
  else
    out("unknown", a)
  end
end

G = {}
return {}
