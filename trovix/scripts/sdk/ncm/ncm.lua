-- Logins, requests, device answers and logouts of network cameras.
local cjson = require("cjson")
local qv_ncm = require("qv_ncm")
local np_id = require("base.np_id")
local np_err = require("base.np_err")
local conn = require("sdk.ncm.conn")

local M = {}

local DEFAULT_KEY = "730418"

-- Modules of later protocols are optional: present in the script table, they
-- are loaded (and their errors reported); absent, their commands fail.
local function optional(name)
    if type(dofile(name)) ~= "function" then return nil end
    return require(name)
end

local upgrade = optional("sdk.ncm.upgrade")
local discover_cli = optional("sdk.ncm.discover_cli")
local rtsp = optional("sdk.ncm.rtsp")
local http_flv = optional("sdk.ncm.http_flv")
local http_nspp = optional("sdk.ncm.http_nspp")

local function decode(text)
    local ok, v = pcall(cjson.decode, text)
    if ok then return v end
    return nil
end

local function stream_module(protocol)
    if protocol == np_id.RTSP then return rtsp end
    if protocol == np_id.HTTP_FLV then return http_flv end
    if protocol == np_id.NSPP_HTTP then return http_nspp end
    return nil
end

local function is_stream_login(r)
    return r and (r.protocol == np_id.RTSP or r.protocol == np_id.HTTP_FLV or r.protocol == np_id.NSPP_HTTP)
end

local function login(seq, id, text, left)
    local req = decode(text)
    if type(req) ~= "table" or type(req.ip) ~= "string" or type(req.port) ~= "number"
        or type(req.login) ~= "table" or type(req.login.username) ~= "string"
        or type(req.login.passwd) ~= "string" then
        return 1
    end
    local protocol = np_id.NSPP
    if type(req.protocol) == "string" then
        local p = string.lower(req.protocol)
        if p == "rtsp" then protocol = np_id.RTSP
        elseif p == "http_flv" then protocol = np_id.HTTP_FLV
        elseif p == "http_nspp" then protocol = np_id.NSPP_HTTP end
    end
    local module = stream_module(protocol)
    if protocol ~= np_id.NSPP and not module then
        return 1
    end
    if not qv_ncm.connect(req.ip, math.floor(req.port), id, protocol) then
        return 1
    end
    if not conn.push(id, protocol) then
        return 1
    end
    if protocol == np_id.NSPP then
        local msg = cjson.encode({
            cmd = "login",
            qqssid = DEFAULT_KEY,
            qqauth = DEFAULT_KEY,
            login = { username = req.login.username, passwd = req.login.passwd },
        })
        conn.submit(id, seq, "login", msg, left)
        return 0
    end
    if protocol == np_id.RTSP then
        local path = type(req.path) == "string" and req.path or ""
        local url = string.format("rtsp://%s:%d%s", req.ip, math.floor(req.port), path)
        return module.req_options(url, seq, id, req.login.username, req.login.passwd) and 0 or 1
    end
    return module.req_first(seq, id, req) and 0 or 1
end

local function request(seq, id, text, left)
    local req = decode(text)
    local cmd = type(req) == "table" and type(req.cmd) == "string" and string.lower(req.cmd) or nil
    if cmd == "upgrade" or cmd == "status_upgrade" then
        if not upgrade then
            qv_ncm.response_sdk(seq, 0, np_err.UNSUPPORT, "")
            return 0
        end
        if cmd == "upgrade" then return upgrade.start(seq, req) end
        return upgrade.status(seq, req)
    elseif cmd == "status_connect" then
        return conn.status(seq, req)
    end
    local r = conn.get(id)
    if is_stream_login(r) then
        return 0 -- stream logins take no requests; the caller times out
    end
    return conn.submit(id, seq, cmd, text, left) and 0 or 1
end

local function logout(seq, id, left)
    local r = conn.get(id)
    if is_stream_login(r) then
        local module = stream_module(r.protocol)
        conn.set_status(id, conn.CONN_LOGOUT)
        qv_ncm.close(id)
        if module and module.logout then module.logout(id) end
        return 0
    end
    local msg = cjson.encode({ cmd = "logout", qqssid = DEFAULT_KEY, qqauth = DEFAULT_KEY })
    conn.submit(id, seq, "logout", msg, left)
    conn.set_status(id, conn.CONN_LOGOUT)
    return 0
end

local INT_MIN, INT_MAX = -2147483648, 2147483647

-- The code a device puts in a login answer, at the top or inside "login":
-- 0 accepted. A refusal passes on the device's own code, unless that code is
-- not an integer in int's range or would read as one of the library's own
-- results (1 ... 6): then the caller gets DEVICE_CODE.
local function answer_code(ans)
    local v = ans.code
    if v == nil and type(ans.login) == "table" then v = ans.login.code end
    if v == nil then return 0 end
    if type(v) ~= "number" or not (v >= INT_MIN and v <= INT_MAX) or v ~= math.floor(v) then
        return conn.DEVICE_CODE
    end
    v = math.tointeger(v)
    if v >= 1 and v <= conn.DEVICE_CODE then return conn.DEVICE_CODE end
    return v
end

-- Hands a device answer to the request seq (of command waited).
local function deliver(id, seq, waited, body, ans)
    -- Numbers JSON has no words for (NaN, infinities) can't be written
    -- again: such an answer goes on as it came.
    local encoded, text = pcall(cjson.encode, ans)
    if not encoded then text = body end
    if waited == "login" then
        local code = answer_code(ans)
        if code ~= 0 then
            -- Refused: the caller gets the code answer_code gives.
            qv_ncm.response_sdk(seq, id, code, text)
            conn.set_status(id, conn.CONN_DISCONNECT)
            qv_ncm.close(id)
            return
        end
        if type(ans.login) == "table" and type(ans.login.qqssid) == "string"
            and type(ans.login.qqauth) == "string" then
            conn.auth(id, ans.login.qqssid, ans.login.qqauth)
        end
    end
    qv_ncm.response_sdk(seq, id, 0, text)
end

local function recv(id, protocol, body, read_no)
    if protocol == np_id.NSPP then
        local ans = cjson.decode(body) -- not JSON: the error drops the connection
        if type(ans) ~= "table" then error("device answer is not a JSON object") end
        local cmd = type(ans.cmd) == "string" and string.lower(ans.cmd) or nil
        local due = conn.match(id, cmd, body, ans, read_no)
        if due then deliver(due.id, due.seq, due.cmd, due.body, due.ans) end
        return 0
    end
    local module = stream_module(protocol)
    if module then
        module.parser_recv(id, body) -- a broken answer raises: the connection goes
        return 0
    end
    return 1
end

-- Whoever still waits on a lost connection learns of it now, not by timing
-- out: its login and requests are answered as failed.
local function disconnect(id, code)
    local r = conn.get(id)
    local module = is_stream_login(r) and stream_module(r.protocol)
    if module then module.disconnect(id) end
    for _, seq in ipairs(conn.take_waits(id)) do
        qv_ncm.response_sdk(seq, id, conn.FAILED, "")
    end
    conn.set_status(id, conn.CONN_DISCONNECT)
    return 0
end

function M.init()
    conn.init()
    qv_ncm.set_sdk(login, logout, request)
    qv_ncm.set_recv(recv)
    qv_ncm.set_disconnect(disconnect)
    if upgrade then upgrade.init() end
    if discover_cli then discover_cli.init() end
end

function M.quit()
    if discover_cli then discover_cli.quit() end
    if upgrade then upgrade.quit() end
    conn.quit()
end

return M
