-- RTSP logins: OPTIONS, DESCRIBE, one SETUP per leading video or audio
-- medium, PLAY; the login is answered once the camera plays. Every step
-- needs the answer 200; a 401 is answered once with the authorisation the
-- camera asked for. While playing, the session is kept alive within the
-- time-out the camera named.
local qv_ncm = require("qv_ncm")
local qv_sys = require("qv_sys")
local np_err = require("base.np_err")
local conn = require("sdk.ncm.conn")
local sdp = require("sdk.ncm.rtsp_sdp2")

local M = {}

M.list = {}

local KEEPALIVE_TIMER = 500
local KEEPALIVE_CHECK_MS = 1000
local DEFAULT_TIMEOUT_S = 60
local timer_on = false

local function rec_of(id)
    return M.list[tostring(id)]
end

local function age(now, t)
    return (now - t) & 0xFFFFFFFF
end

-- Sends the request that build makes, under a new CSeq; the builder is kept
-- so the step can be repeated with authorisation.
local function send_step(rec, state, build)
    rec.sent_cseq = rec.sent_cseq + 1
    if not qv_ncm.send(rec.id, build(rec)) then
        rec.sent_cseq = rec.sent_cseq - 1
        return false
    end
    rec.last_sent = qv_sys.tc()
    rec.status = state
    rec.pending = build
    rec.auth_tried = false
    return true
end

local function resend(rec)
    rec.sent_cseq = rec.sent_cseq + 1
    if qv_ncm.send(rec.id, rec.pending(rec)) then
        rec.last_sent = qv_sys.tc()
    end
end

local function forget(id)
    M.list[tostring(id)] = nil
end

local function fail_login(rec)
    qv_ncm.response_sdk(rec.seq, rec.id, np_err.NOTFOUND, "")
    conn.set_status(rec.id, conn.CONN_LOGOUT)
    qv_ncm.close(rec.id)
    forget(rec.id)
end

-- Interleaved channels: the H.264 medium on 0-1 (the only one the
-- transport assembles), every other medium on a pair of its own.
local function plan_channels(rec)
    local h264 = sdp.h264_index(rec)
    local next_channel = 2
    rec.channels = {}
    for i, m in ipairs(rec.media) do
        if m.t ~= "video" and m.t ~= "audio" then break end
        if i == h264 then
            rec.channels[i] = 0
        else
            rec.channels[i] = next_channel
            next_channel = next_channel + 2
        end
    end
end

local function setup_or_play(rec, i)
    if rec.channels[i] then
        local channel = rec.channels[i]
        send_step(rec, i + 2, function(r) return sdp.pack_setup(r, i, channel) end)
    else
        send_step(rec, sdp.PLAY, sdp.pack_play)
    end
end

local function keepalive(id, count, interval, now)
    local any = false
    for _, rec in pairs(M.list) do
        if rec.status == sdp.PLAY_ING then
            any = true
            local timeout = rec.timeout > 0 and rec.timeout or DEFAULT_TIMEOUT_S
            local every = math.max(timeout * 1000 // 2, 5000)
            if age(qv_sys.tc(), rec.last_sent) >= every then
                local pack = string.find(rec.public, "GET_PARAMETER", 1, true) and sdp.pack_get_parameter
                    or sdp.pack_options
                rec.sent_cseq = rec.sent_cseq + 1
                if qv_ncm.send(rec.id, pack(rec)) then rec.last_sent = qv_sys.tc() end
            end
        end
    end
    if not any and next(M.list) == nil then
        timer_on = false
        return 1 -- nothing left to keep alive: the timer goes
    end
    return 0
end

function M.req_options(url, seq, id, username, passwd)
    local rec = sdp.new_sdp()
    rec.url = url
    rec.id = id
    rec.seq = seq
    if type(username) == "string" then rec.username = username end
    if type(passwd) == "string" then rec.passwd = passwd end
    M.list[tostring(id)] = rec
    if not send_step(rec, sdp.OPTIONS, sdp.pack_options) then
        return false
    end
    if not timer_on then
        timer_on = qv_sys.add_timer(KEEPALIVE_TIMER, KEEPALIVE_CHECK_MS, keepalive)
    end
    return true
end

function M.request(seq, id, req)
    return rec_of(id) ~= nil
end

function M.logout(id)
    if not rec_of(id) then return false end
    conn.set_status(id, conn.CONN_LOGOUT)
    qv_ncm.close(id)
    forget(id)
    return true
end

function M.disconnect(id)
    local rec = rec_of(id)
    if rec and rec.status ~= sdp.PLAY_ING then
        qv_ncm.response_sdk(rec.seq, rec.id, conn.FAILED, "")
    end
    forget(id)
end

local function merge(rec, ans)
    for _, k in ipairs({ "protocol", "code", "cseq", "public", "session", "timeout", "content_base" }) do
        if ans[k] ~= nil and type(ans[k]) == type(rec[k]) then rec[k] = ans[k] end
    end
end

function M.parser_recv(id, body)
    local rec = rec_of(id)
    if not rec then return 1 end
    local ans = sdp.parser(body, rec)
    if ans.protocol == nil then return 0 end -- a request from the camera, not an answer
    local current = ans.code ~= nil and (ans.cseq == nil or ans.cseq == rec.sent_cseq)
    if rec.status == sdp.PLAY_ING then
        if current then merge(rec, ans) end -- else it answers an older keep-alive
        return 0
    end
    -- While logging in only one request is out: anything but its answer
    -- means the camera is broken, and the connection goes.
    if not current then error("RTSP answer without a status code or to another request") end
    merge(rec, ans)
    if ans.code == 401 and not rec.auth_tried then
        rec.challenge = sdp.challenge(ans.www_authenticate)
        if rec.challenge then
            rec.auth_tried = true
            resend(rec)
            return 0
        end
    end
    if ans.code ~= 200 then
        fail_login(rec)
        return 0
    end
    local state = rec.status
    if state == sdp.OPTIONS then
        send_step(rec, sdp.DESCRIBE, sdp.pack_describe)
    elseif state == sdp.DESCRIBE then
        rec.media = ans.media
        plan_channels(rec)
        setup_or_play(rec, 1)
    elseif state >= 3 and state < sdp.SETUP_E then
        setup_or_play(rec, state - 1)
    elseif state == sdp.PLAY then
        rec.status = sdp.PLAY_ING
        conn.stream_login_ok(rec.seq, rec.id)
    end
    return 0
end

return M
