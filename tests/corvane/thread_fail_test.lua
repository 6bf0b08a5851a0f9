-- Run with a stack limit too large to map (see CMakeLists.txt), so that no
-- thread can be created: a worker without a thread is neither returned nor
-- registered.
local check = require "check"
local corvane = require "corvane"

check.case("create reports a thread that can't start", function()
  corvane.init()
  local ok, err = corvane.create("w", 1, "w_probe", "w")
  check.eq(ok, false)
  check.eq(err, "cannot start a thread")
  check.eq(corvane.post("w", "rec", "", ""), false, "not registered")
  check.eq(corvane.find_idle({ "w" }), "")
  check.eq(corvane.destroy("w"), false)
  ok, err = corvane.create("w", 1, "w_probe", "w")
  check.eq(err, "cannot start a thread", "the name is still free")
  check.eq(corvane.quit(), true)
end)

check.case("open_thread returns no handle", function()
  local h, err = corvane.open_thread("h", 1, "w_probe", "h")
  check.eq(h, nil)
  check.eq(err, "cannot start a thread")
end)

check.finish()
