-- The corvane table, handles, and the rules of the thread registry.
local check = require "check"
local kit = check.kit
local corvane = require "corvane"
check.after = function() pcall(corvane.quit, 0) end
local tm

-- The next n messages on a queue.
local function drain(queue, n, ms)
  local got = {}
  for i = 1, n do
    got[i] = check.message(queue, ms)
  end
  return got
end

check.case("module table and handle metatable", function()
  local names = {}
  for k, v in pairs(corvane) do
    check.eq(type(v), "function", k)
    names[#names + 1] = k
  end
  table.sort(names)
  check.eq(table.concat(names, ","), "create,destroy,find_idle,init,open_thread,post,quit")
  local meta = debug.getregistry().corvane_thread_meta
  check.eq(type(meta), "table", "corvane_thread_meta")
  check.eq(meta.__index, meta, "__index")
  for _, m in ipairs({ "__gc", "__tostring", "close", "post", "name", "status", "job_size" }) do
    check.eq(type(meta[m]), "function", m)
  end
  check.eq(type(package.preload.qv_mcache), "function", "qv_mcache preloaded")
  check.eq(type(package.preload.qv_tmsg), "function", "qv_tmsg preloaded")
end)

check.case("calls before init raise errors", function()
  check.raises("init has not been called", corvane.create, "a", 1, "w_plain", "")
  check.raises("init has not been called", corvane.destroy, "a")
  check.raises("init has not been called", corvane.post, "a", "", "", "")
  check.raises("init has not been called", corvane.find_idle, {})
  check.raises("init has not been called", corvane.quit)
  local mc = require "qv_mcache"
  check.raises("init has not been called", mc.get, "k")
  check.raises("init has not been called", mc.set, "k", 1)
  check.raises("init has not been called", mc.clear)
  -- The named queues answer false outside init .. quit.
  tm = require "qv_tmsg"
  check.eq(tm.register("q"), false)
  check.eq(tm.post("q", "a", "b", "c"), false)
  check.eq(tm.clear("q"), false)
  local ok, a, b, c, ud = tm.get("q")
  check.eq(ok, false)
  check.eq(a .. b .. c, "")
  check.eq(ud, kit.null())
end)

check.case("argument errors are Lua's standard ones", function()
  corvane.init()
  check.raises("bad argument #1 to 'corvane.create'", corvane.create, {}, 1, "m", "")
  check.raises("number has no integer representation", corvane.create, "a", 1.5, "m", "")
  check.raises("bad argument #4 to 'corvane.create'", corvane.create, "a", 1, "m")
  check.raises("bad argument #3 to 'corvane.post'", corvane.post, "a", "x", nil, "z")
  check.raises("already initialised", corvane.init)
  check.eq(corvane.quit(), true)
end)

check.case("init takes a bucket count", function()
  corvane.init(10) -- below 100: the default
  corvane.quit()
  corvane.init(100000)
  corvane.quit()
  check.raises("too many buckets", corvane.init, 1 << 40)
  check.raises("number has no integer representation", corvane.init, 1.5)
  corvane.init("not a number") -- anything but a number: the default
  corvane.quit()
end)

check.case("a name is registered once", function()
  corvane.init()
  tm.register("one.out")
  check.eq(corvane.create("one", 1, "w_probe", "one"), true)
  check.eq(corvane.create("one", 1, "w_probe", "other"), false)
  check.eq(corvane.post("one", "rec", "x", "y"), true)
  local got = drain("one.out", 1)
  check.eq(got[1][1], "x")
  -- The second create started nothing: only "one" ever ran setup.
  check.eq((require "qv_mcache").get("other.setup"), nil)
  check.eq(corvane.destroy("one"), true)
  check.eq(corvane.destroy("one"), false)
  check.eq(corvane.post("one", "rec", "", ""), false)
  check.eq(corvane.destroy("nobody"), false)
  check.eq(corvane.post("nobody", "a", "b", "c"), false)
  corvane.quit()
end)

check.case("an empty name runs as corvane", function()
  corvane.init()
  check.eq(corvane.create("", 1, "w_plain", ""), true)
  check.eq(corvane.create("corvane", 1, "w_plain", ""), false)
  check.eq(corvane.destroy("corvane"), true)
  local h = corvane.open_thread("", 7, "w_plain", "")
  check.eq(h:name(), "corvane")
  check.eq(tostring(h), "corvane_thread:corvane-run-7")
  h:close()
  corvane.quit()
end)

check.case("intervals below 2 become 1", function()
  for _, interval in ipairs({ -5, 0, 1 }) do
    local h = corvane.open_thread("i", interval, "w_plain", "")
    check.eq(tostring(h), "corvane_thread:i-run-1")
    h:close()
  end
  local h = corvane.open_thread("i", 100, "w_plain", "")
  check.eq(tostring(h), "corvane_thread:i-run-100")
  h:close()
end)

check.case("find_idle picks the shortest queue", function()
  corvane.init()
  local mc = require "qv_mcache"
  tm.register("a.out")
  tm.register("b.out")
  check.eq(corvane.create("a", 1, "w_probe", "a"), true)
  check.eq(corvane.create("b", 1, "w_probe", "b"), true)
  -- Each worker blocks in its first job; the rest stay queued.
  corvane.post("a", "block", "gate", "")
  corvane.post("b", "block", "gate", "")
  drain("a.out", 1)
  drain("b.out", 1)
  for _ = 1, 3 do
    corvane.post("a", "rec", "", "")
    corvane.post("b", "rec", "", "")
  end
  check.eq(corvane.find_idle({ "a", "b" }), "a", "equal counts: the first met")
  check.eq(corvane.find_idle({ "b", "a" }), "b", "equal counts: the first met")
  check.eq(corvane.find_idle({ "nobody", "b" }), "b")
  check.eq(corvane.find_idle({ "nobody", 5, {} }), "")
  check.eq(corvane.find_idle({}), "")
  check.eq(corvane.find_idle("a"), "")
  check.eq(corvane.find_idle(), "")
  mc.set("gate", true)
  -- Once b has drained and a has not, b wins at once.
  corvane.post("a", "block", "gate2", "")
  corvane.post("a", "rec", "", "")
  check.wait(function()
    local ok, what = tm.get("a.out")
    return ok and what == "blocking"
  end)
  check.wait(function() return corvane.find_idle({ "a", "b" }) == "b" end, 5000, "b idle")
  mc.set("gate2", true)
  corvane.quit()
end)

check.case("handles: post, job_size, status, close", function()
  corvane.init()
  tm.register("h.out")
  local h = corvane.open_thread("h", 1, "w_probe", "h")
  check.eq(h:status(), "run")
  check.eq(h:name(), "h")
  check.eq(h:post("rec", "first", "", nil), true)
  check.eq(drain("h.out", 1)[1][1], "first")
  check.eq(h:post("block", "hgate", ""), true)
  check.wait(function() local ok, n = h:job_size() return ok and n == 0 end)
  h:post("rec", "queued", "")
  local ok, n = h:job_size()
  check.eq(ok, true)
  check.eq(n, 1)
  -- A handle is not registered.
  check.eq(corvane.post("h", "rec", "", ""), false)
  check.eq(corvane.destroy("h"), false)
  local mc = require "qv_mcache"
  mc.set("hgate", true)
  h:close()
  check.eq(h:status(), "close")
  check.eq(tostring(h), "corvane_thread:h-close-0")
  check.eq(h:post("rec", "late", ""), false)
  check.eq(h:post(), false, "a closed handle looks at no argument")
  ok, n = h:job_size()
  check.eq(ok, false)
  check.eq(n, 0)
  h:close()
  check.eq(h:name(), "h")
  corvane.quit()
end)

check.case("a handle let go by the script is stopped by the collector", function()
  corvane.init()
  local mc = require "qv_mcache"
  do
    local h = corvane.open_thread("g", 1, "w_probe", "g")
    check.wait(function() return mc.get("g.init") end)
  end
  collectgarbage()
  collectgarbage()
  check.wait(function() return mc.get("g.quit") end, 5000, "the worker's quit")
  corvane.quit()
end)

check.case("handles are checked", function()
  local h = corvane.open_thread("c", 1, "w_plain", "")
  check.raises("corvane_thread_meta expected", h.post, {}, "a", "b", "c")
  check.raises("corvane_thread_meta expected", h.status, kit.stray())
  h:close()
end)

check.case("a loader serves the worker's modules", function()
  corvane.init()
  tm.register("kit.out")
  check.eq(corvane.create("l", 1, "kit.echo", "", kit.loader()), true)
  corvane.post("l", "a", "b\0b", "c")
  local got = drain("kit.out", 1)
  check.eq(got[1][1] .. "|" .. got[1][2] .. "|" .. got[1][3], "c|b\0b|a")
  corvane.destroy("l")
  -- Modules loaded by the module come through the same loader.
  check.eq(corvane.create("o", 1, "kit.outer", "", kit.loader()), true)
  corvane.post("o", "ab", "", "")
  check.eq(drain("kit.out", 1)[1][1], "abab")
  corvane.destroy("o")
  check.eq(kit.loader(), kit.loader(), "one loader object per lookup function")
  corvane.quit()
end)

check.case("anything else given as a loader is refused before it is used", function()
  corvane.init()
  check.raises("must \"qv_loader\"", corvane.create, "x", 1, "m", "", kit.stray())
  local obj = kit.new_obj()
  check.raises("must \"qv_loader\"", corvane.create, "x", 1, "m", "", obj)
  require("qv_mcache").set("obj", obj) -- released by quit
  check.raises("must \"qv_loader\"", corvane.open_thread, "x", 1, "m", "", "text")
  check.eq(corvane.find_idle({ "x" }), "", "nothing was registered")
  corvane.create("y", 1, "m", "", nil) -- nil: no loader
  corvane.quit()
end)

check.case("a host registers the modules with pre_loadlib_corvane", function()
  local out, err = kit.fresh_state([[
    local corvane = require "corvane"
    local mc = require "qv_mcache"
    corvane.init()
    mc.set("k", "v")
    local v = mc.get("k")
    corvane.quit()
    return v
  ]])
  check.eq(err, nil)
  check.eq(out, "v")
end)

check.finish()
