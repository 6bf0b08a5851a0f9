-- The devices heard by discovery in the last 30 s, keyed by serial number
-- and address. Everything stored here came from the network, so it is
-- checked first: the address must be a dotted IPv4 unicast address, the
-- serial number a short printable text, and the description a table that
-- encodes as JSON again.
local cjson = require("cjson")
local qv_sys = require("qv_sys")

local M = {}

local EXPIRE_TIMER = 300
local EXPIRE_MS = 10000
M.KEEP_MS = 30000
-- A flood of made-up serial numbers must not grow the list without end:
-- past this many devices the one heard longest ago makes room.
M.MAX_DEVICES = 256
M.MAX_SN_LEN = 64

local devices = {}   -- "sn:ip" -> { tc = tick, dev = { ip = ..., sn = ..., discover = ... } }
local count = 0

local function age(now, t)
    return (now - t) & 0xFFFFFFFF
end

-- Four decimal octets, no leading zeros, not 0.0.0.0, not a broadcast or
-- multicast address.
function M.valid_ip(ip)
    if type(ip) ~= "string" or #ip > 15 then return false end
    local a, b, c, d = string.match(ip, "^(%d+)%.(%d+)%.(%d+)%.(%d+)$")
    if not a then return false end
    local octets = { a, b, c, d }
    for i = 1, 4 do
        local o = octets[i]
        if #o > 3 or (#o > 1 and string.sub(o, 1, 1) == "0") or tonumber(o) > 255 then
            return false
        end
        octets[i] = tonumber(o)
    end
    if octets[1] == 0 or octets[1] >= 224 then return false end
    return true
end

function M.valid_sn(sn)
    return type(sn) == "string" and #sn >= 1 and #sn <= M.MAX_SN_LEN and not string.find(sn, "[^\32-\126]")
end

local function evict_oldest(now)
    local oldest, oldest_age
    for key, e in pairs(devices) do
        local a = age(now, e.tc)
        if not oldest or a > oldest_age then
            oldest, oldest_age = key, a
        end
    end
    if oldest then
        devices[oldest] = nil
        count = count - 1
    end
end

-- Stores or replaces one device; false when anything in it is unfit.
function M.push(ip, port, sn, discover)
    if not M.valid_ip(ip) or not M.valid_sn(sn) or type(discover) ~= "table" or next(discover) == nil then
        return false
    end
    -- Numbers JSON can't carry (a device may send 1e999) would break the
    -- whole list later.
    if not pcall(cjson.encode, discover) then return false end
    local now = qv_sys.tc()
    local key = string.format("%s:%s", sn, ip)
    if not devices[key] then
        if count >= M.MAX_DEVICES then evict_oldest(now) end
        count = count + 1
    end
    devices[key] = { tc = now, dev = { ip = ip, sn = sn, discover = discover } }
    return true
end

function M.get()
    local list = {}
    for _, e in pairs(devices) do
        list[#list + 1] = e.dev
    end
    return list
end

-- A JSON array; "{}" when empty (the JSON module's empty table).
function M.get_json()
    return cjson.encode(M.get())
end

function M.count()
    return count
end

local function expire()
    local now = qv_sys.tc()
    for key, e in pairs(devices) do
        if age(now, e.tc) >= M.KEEP_MS then
            devices[key] = nil
            count = count - 1
        end
    end
    return 0
end

function M.init()
    qv_sys.add_timer(EXPIRE_TIMER, EXPIRE_MS, expire)
end

function M.quit()
    qv_sys.remove_timer(EXPIRE_TIMER)
end

return M
