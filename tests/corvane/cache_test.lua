-- qv_mcache: values kept whole, entries replaced and removed, owned objects
-- released once and never while a state still holds them.
local check = require "check"
local kit = check.kit
local corvane = require "corvane"
local mc = require "qv_mcache"
local tm = require "qv_tmsg"

corvane.init()
tm.register("c.out")

local next_message = check.message

local function same(key, value, kind)
  check.eq(mc.set(key, value), true, "set " .. key)
  local got, t = mc.get(key)
  check.eq(got, value, key)
  check.eq(math.type(got), math.type(value), key .. " number subtype")
  check.eq(t, kind, key .. " type")
end

check.case("values read back whole", function()
  same("b", true, "boolean")
  same("f", false, "boolean")
  same("n", 5, "number")
  same("big", 1 << 40, "number")
  same("2^31", 1 << 31, "number")
  same("max", math.maxinteger, "number")
  same("min", math.mininteger, "number")
  same("neg", -7, "number")
  same("half", 0.5, "number")
  same("float", 2.0 ^ 40, "number")
  same("inf", math.huge, "number")
  same("nan", 0 / 0, "number")
  same("s", "text", "string")
  same("empty", "", "string")
  same("long", string.rep("x\0", 100000), "string")
  check.eq(#mc.get("long"), 200000)
  local got, t = mc.get("missing")
  check.eq(got, nil)
  check.eq(t, "nil")
end)

-- Texts on each side of the size the cache copies out under its lock (the
-- longer ones are read after it) come back byte for byte, zero bytes
-- included: twice here, once in a worker's state, and after a replacement.
check.case("texts around the short-text size read back byte for byte", function()
  local short = kit.short_text()
  -- Different for every size and salt, with zero bytes in the middle and
  -- at the end.
  local function text(n, salt)
    local bytes = {}
    for i = 1, n do
      bytes[i] = string.char((i * 7 + n + salt) % 256)
    end
    bytes[n // 2], bytes[n] = "\0", "\0"
    return table.concat(bytes)
  end
  local h = corvane.open_thread("c", 1, "w_probe", "c")
  for _, n in ipairs({ short - 1, short, short + 1 }) do
    local key = "text" .. n
    local first, second = text(n, 0), text(n, 1)
    check.eq(mc.set(key, first), true)
    for _ = 1, 2 do
      local got, t = mc.get(key)
      check.eq(#got, n, key .. " length")
      check.eq(got, first, key)
      check.eq(t, "string", key .. " type")
    end
    h:post("get", key, "")
    local msg = next_message("c.out")
    check.eq(msg[1], first, key .. " in a worker")
    check.eq(msg[2], "string", key .. " type in a worker")
    check.eq(mc.set(key, second), true)
    check.eq(mc.get(key), second, key .. " replaced")
    check.eq(mc.set(key, nil), true)
    check.eq(select(2, mc.get(key)), "nil", key .. " removed")
  end
  h:close()
end)

check.case("keys are matched byte for byte", function()
  mc.set("k\0a", 1)
  mc.set("k\0b", 2)
  mc.set("", 3)
  check.eq(mc.get("k\0a"), 1)
  check.eq(mc.get("k\0b"), 2)
  check.eq(mc.get("k"), nil)
  check.eq(mc.get(""), 3)
  check.raises("bad argument #1 to 'qv_mcache.get'", mc.get, {})
  check.raises("bad argument #1 to 'qv_mcache.set'", mc.set, nil, 1)
end)

check.case("an unsupported type leaves the old entry", function()
  mc.set("keep", "old")
  check.eq(mc.set("keep", {}), false)
  check.eq(mc.set("keep", print), false)
  check.eq(mc.set("keep", coroutine.create(print)), false)
  check.eq(mc.set("keep", io.stdout), false)
  check.eq(mc.get("keep"), "old")
  check.eq(mc.set("fresh", {}), false)
  check.eq(select(2, mc.get("fresh")), "nil")
end)

check.case("nil, no value and a null pointer remove the key", function()
  for _, args in ipairs({ { "gone", nil }, { "gone" }, { "gone", kit.null() } }) do
    mc.set("gone", 1)
    check.eq(mc.set(table.unpack(args, 1, 2)), true)
    check.eq(select(2, mc.get("gone")), "nil")
  end
end)

check.case("clear removes everything", function()
  mc.set("x", 1)
  mc.set("y", "2")
  mc.clear()
  check.eq(mc.get("x"), nil)
  check.eq(mc.get("y"), nil)
  check.eq(mc.get("keep"), nil)
end)

check.case("an owned object is released once when replaced, removed or cleared", function()
  local base = kit.released()
  local a, b = kit.new_obj(), kit.new_obj()
  check.eq(mc.set("o", a), true)
  local got, t = mc.get("o")
  check.eq(got, a)
  check.eq(t, "qv_obj")
  check.eq(mc.set("o", b), true)
  -- This state still holds a from its get: the release waits for quit.
  check.eq(kit.released(), base)
  check.eq(mc.set("o", nil), true)
  check.eq(kit.released(), base + 1, "b released on removal")
  mc.set("p", kit.new_obj())
  mc.set("q", kit.new_obj())
  mc.clear()
  check.eq(kit.released(), base + 3, "cleared objects released")
  mc.set("r", kit.new_obj())
  mc.set("r", 5)
  check.eq(kit.released(), base + 4, "replaced by a number")
  mc.set("s", kit.new_obj())
  check.eq(mc.set("s", {}), false)
  check.eq(kit.released(), base + 4, "a refused value leaves the object stored")
end)

check.case("one object has one owner", function()
  local base = kit.released()
  local o = kit.new_obj()
  check.eq(mc.set("own1", o), true)
  check.eq(mc.set("own1", o), true, "again under its own key: kept")
  check.eq(kit.released(), base)
  check.eq(mc.set("own2", o), false, "under a second key: refused")
  mc.set("own1", nil)
  check.eq(kit.released(), base + 1)
end)

check.case("a pointer that is no object is refused", function()
  mc.set("stray", "before")
  check.raises("must \"qv_obj\"", mc.set, "stray", kit.stray())
  check.eq(mc.get("stray"), "before")
  check.raises("must \"qv_obj\"", mc.set, "stray", kit.loader())
end)

check.case("a worker's borrow outlives a replacement until its job ends", function()
  local base = kit.released()
  local h = corvane.open_thread("c", 1, "w_probe", "c")
  mc.set("shared", kit.new_obj())
  h:post("hold", "shared", "replaced")
  check.eq(next_message("c.out")[2], "true", "the worker holds the object")
  mc.set("shared", nil)
  mc.set("replaced", true)
  check.eq(tonumber(next_message("c.out")[2]), base, "not released while the job runs")
  check.wait(function() return kit.released() == base + 1 end, 5000, "release after the job")
  h:close()
end)

check.case("an object released by a script is not released again", function()
  local path = os.tmpname()
  local f = io.open(path, "wb")
  f:write("payload")
  f:close()
  local h = corvane.open_thread("c", 1, "w_probe", "c")
  h:post("file", path, "")
  check.eq(next_message("c.out")[2], "true")
  -- qv_file.write releases the buffer object the cache still owns.
  h:post("write", path .. ".copy", "")
  local msg = next_message("c.out")
  check.eq(msg[2], "true")
  check.eq(msg[3], "7")
  h:close()
  mc.clear() -- must not touch the freed buffer
  f = io.open(path .. ".copy", "rb")
  check.eq(f:read("a"), "payload")
  f:close()
  os.remove(path)
  os.remove(path .. ".copy")
end)

check.case("quit releases what is left, borrowed or not", function()
  local base = kit.released()
  mc.set("left", kit.new_obj())
  mc.set("left2", kit.new_obj())
  mc.get("left2")
  corvane.quit()
  -- And the object this state borrowed in the earlier case.
  check.truthy(kit.released() >= base + 2, "released " .. (kit.released() - base))
  corvane.init()
  check.eq(mc.get("left"), nil, "a new cache is empty")
end)

corvane.quit()
check.finish()
