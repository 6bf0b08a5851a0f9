-- Debug printing of any values as JSON.
local cjson = require("cjson")
local M = {}

local function printable(v, seen)
    local ty = type(v)
    if ty == "string" or ty == "number" or ty == "boolean" then return v end
    if ty ~= "table" then return tostring(v) end
    if seen[v] then return tostring(v) end
    seen[v] = true
    local out = {}
    for k, x in pairs(v) do
        local key = (type(k) == "string" or type(k) == "number") and k or tostring(k)
        out[key] = printable(x, seen)
    end
    return out
end

function M.printf(...)
    local args = table.pack(...)
    local out = {}
    for i = 1, args.n do
        out[i] = printable(args[i], {})
    end
    local ok, text = pcall(cjson.encode, out)
    print(ok and text or tostring(text))
end

return M
