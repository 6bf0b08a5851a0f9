-- HTTP logins (HTTP-FLV, and the framed protocol over a long HTTP
-- connection): one GET request; its answer decides the login. Both kinds
-- share this code, each with its own table of logins.
local qv_ncm = require("qv_ncm")
local np_err = require("base.np_err")
local util = require("base.util")
local conn = require("sdk.ncm.conn")

local USER_AGENT = "TROVIX (TROVIX Streaming Media v2019.12.11)"

local function new_module()
    local M = { list = {} }

    function M.req_first(seq, id, login)
        local path = type(login.path) == "string" and util.trim(login.path) or ""
        if path == "" then path = "/" end
        local host = login.host
        if type(host) ~= "string" or host == "" then
            host = login.ip
            if type(login.port) == "number" and login.port ~= 80 then
                host = string.format("%s:%d", host, math.floor(login.port))
            end
        end
        local text = "GET " .. path .. " HTTP/1.1\r\n" .. "Host: " .. host .. "\r\n" .. "User-Agent: " .. USER_AGENT
            .. "\r\n" .. "Accept: */*\r\n" .. "Connection: keep-alive\r\n" .. "\r\n"
        if not qv_ncm.send(id, text) then return false end
        M.list[tostring(id)] = { id = id, seq = seq }
        return true
    end

    function M.request(seq, id, req)
        return M.list[tostring(id)] ~= nil
    end

    function M.logout(id)
        if not M.list[tostring(id)] then return false end
        conn.set_status(id, conn.CONN_LOGOUT)
        qv_ncm.close(id)
        M.list[tostring(id)] = nil
        return true
    end

    function M.disconnect(id)
        local rec = M.list[tostring(id)]
        if rec and not rec.answered then qv_ncm.response_sdk(rec.seq, id, conn.FAILED, "") end
        M.list[tostring(id)] = nil
    end

    -- The first text is the answer to the GET; later ones (the framed
    -- protocol's messages after it) don't concern the login.
    function M.parser_recv(id, text)
        local rec = M.list[tostring(id)]
        if not rec then return false end
        if rec.answered then return true end
        rec.answered = true
        local status = 404
        local first = string.match(text, "^([^\r\n]*)")
        local code = first and string.match(first, "^%S+%s+(%d+)")
        if code then status = tonumber(code) end
        if status == 200 then
            conn.stream_login_ok(rec.seq, id)
        else
            qv_ncm.response_sdk(rec.seq, id, np_err.NOTFOUND, "")
            M.logout(id)
        end
        return true
    end

    return M
end

local M = new_module()
M.new = new_module
return M
