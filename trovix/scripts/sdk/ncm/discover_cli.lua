-- Discovery client: finds network cameras by UDP broadcast and answers the
-- discovery commands of the exported interface. The datagrams themselves are
-- the broadcast client's (qv_broadcast_cli); an answer is a JSON object with
-- a text "sn" and a non-empty table "discover", the device's description.
local cjson = require("cjson")
local qv_ncm = require("qv_ncm")
local qv_sys = require("qv_sys")
local bcast = require("qv_broadcast_cli")
local np_err = require("base.np_err")
local dev_storage = require("sdk.ncm.dev_storage")

local M = {}

local ENDPOINT_ID = 900
local BROADCAST_IP = "255.255.255.255"
M.PORT = 57975
local RECV_TIMER, RECV_MS = 200, 10
local SEND_TIMER, SEND_MS = 201, 1000
-- Answers taken per receive round, so a flood can't hold the command thread.
local RECV_PER_ROUND = 256

local discover_run = false
local broadcast_open = false
local endpoint_index = 1

local function next_index()
    endpoint_index = endpoint_index + 1
    if endpoint_index > 99999 then endpoint_index = 1 end
    return endpoint_index
end

local function decode(text)
    local ok, v = pcall(cjson.decode, text)
    if ok then return v end
    return nil
end

local function answer(seq, code, text)
    qv_ncm.response_sdk(seq, 0, code, text or "")
    return 0
end

local function discover_open(seq, text)
    if not broadcast_open then
        broadcast_open = bcast.open(ENDPOINT_ID, next_index(), BROADCAST_IP, M.PORT)
    end
    return answer(seq, 0)
end

local function discover_close(seq)
    bcast.close_all(ENDPOINT_ID)
    broadcast_open = false
    return answer(seq, 0)
end

local function discover_run_cmd(seq, text)
    if type(text) == "string" and #text > 0 then
        local req = decode(text)
        if type(req) == "table" then
            discover_run = req.run == true
        end
    end
    return answer(seq, 0)
end

local function discover_get_devs(seq)
    return answer(seq, 0, dev_storage.get_json())
end

local function discover_request(seq, text)
    return answer(seq, np_err.UNSUPPORT)
end

local function receive()
    for _ = 1, RECV_PER_ROUND do
        local ok, code, body, protocol, id, ip, port = bcast.recv()
        if not ok then break end
        if type(body) == "string" and #body > 0 then
            local ans = decode(body)
            if type(ans) == "table" and type(ans.sn) == "string" and type(ans.discover) == "table"
                and next(ans.discover) ~= nil then
                dev_storage.push(ip, port, ans.sn, ans.discover)
            end
        end
    end
    return 0
end

local function send()
    if broadcast_open and discover_run then
        bcast.discover(ENDPOINT_ID)
    end
    return 0
end

function M.init()
    dev_storage.init()
    qv_ncm.set_sdk_discover(discover_open, discover_close, discover_run_cmd, discover_get_devs, discover_request)
    qv_sys.add_timer(RECV_TIMER, RECV_MS, receive)
    qv_sys.add_timer(SEND_TIMER, SEND_MS, send)
end

function M.quit()
    qv_sys.remove_timer(SEND_TIMER)
    qv_sys.remove_timer(RECV_TIMER)
    bcast.close_all(ENDPOINT_ID)
    broadcast_open = false
    dev_storage.quit()
end

return M
