-- Firmware upgrade: sends a package file to a device over a connection of
-- its own (framed protocol, sub-protocol UPGRADE), block by block, then asks
-- the device for the counts it received and tells it to install only when
-- every byte arrived. One upgrade at a time.
local cjson = require("cjson")
local qv_ncm = require("qv_ncm")
local qv_ncm_x = require("qv_ncm_x")
local qv_sys = require("qv_sys")
local qv_file = require("qv_file")
local np_id = require("base.np_id")
local util = require("base.util")

local M = {}

local UP_STATE_NIL = 0
local UP_STATE_SEND = 1
local UP_STATE_SEND_END = 3
local UP_STATE_OK_SENT = 4 -- "upgrade_ok" sent: the device may install and go away

local PUMP_TIMER, PUMP_MS = 400, 10
local CHECK_TIMER, CHECK_MS = 401, 100
local BLOCK = 32768
local MIN_SIZE, MAX_SIZE = 512, 33554432
-- A device that says nothing for this long is taken as gone (our own
-- queries would otherwise keep the connection looking busy).
local SILENCE_MS = 30000
local DEFAULT_KEY = "730418"

local ncm
local up = { id = 0, seq = 0, state = UP_STATE_NIL, blk_count = 0, pf = nil, pf_send = 0, pf_file_len = 0 }
local percentage = 0
local outcome = "done" -- of the last upgrade: "done" or "failed"

local function answer(seq, code, text)
    qv_ncm.response_sdk(seq, 0, code, text or "")
end

local function send(cmd, body)
    local msg = { cmd = cmd, qqssid = DEFAULT_KEY, qqauth = DEFAULT_KEY }
    msg[cmd] = body
    return qv_ncm_x.send(ncm, up.id, cjson.encode(msg))
end

local function finish(ok)
    if up.id ~= 0 then qv_ncm_x.close(ncm, up.id) end
    if up.pf then qv_file.close(up.pf) end
    if up.seq ~= 0 and not up.answered then answer(up.seq, ok and 0 or 1) end
    outcome = ok and "done" or "failed"
    up = { id = 0, seq = 0, state = UP_STATE_NIL, blk_count = 0, pf = nil, pf_send = 0, pf_file_len = 0 }
end

-- Reads the whole file once: its length must be what seeking said and
-- every byte must be readable before the first one is sent.
local function readable(pf, len)
    local total = 0
    while true do
        local buf, n = qv_file.read(pf, BLOCK)
        if not buf then break end
        qv_sys.free(buf)
        total = total + n
        if total > len then return false end
    end
    return total == len and qv_file.seek(pf, 0, "seek_set")
end

function M.start(seq, req)
    if up.id ~= 0 or type(req.path) ~= "string" or req.path == "" then
        answer(seq, 1)
        return 0
    end
    local ip = type(req.ip) == "string" and req.ip or "127.0.0.1"
    local port = type(req.port) == "number" and math.floor(req.port) or 80
    local pf = qv_file.open(req.path, "rb")
    if not pf then
        answer(seq, 1)
        return 0
    end
    local len = qv_file.seek(pf, 0, "seek_end") and qv_file.tell(pf) or -1
    if len < MIN_SIZE or len > MAX_SIZE or not qv_file.seek(pf, 0, "seek_set") or not readable(pf, len) then
        qv_file.close(pf)
        answer(seq, 1)
        return 0
    end
    local id = util.next_socket_id()
    if not ncm or not qv_ncm_x.connect(ncm, id, np_id.NSPP, np_id.UPGRADE, ip, port) then
        qv_file.close(pf)
        answer(seq, 1)
        return 0
    end
    up = { id = id, seq = seq, state = UP_STATE_NIL, blk_count = 0, pf = pf, pf_send = 0, pf_file_len = len,
           heard = qv_sys.tc() }
    percentage = 0
    send("upgrade", { username = "admin", passwd = DEFAULT_KEY })
    return 0
end

function M.status(seq, req)
    answer(seq, 0, cjson.encode({ cmd = "status_upgrade", status_upgrade = {
        code = 0, percentage = percentage, status = up.id ~= 0 and "doing" or outcome } }))
    return 0
end

local function on_answer(msg)
    up.heard = qv_sys.tc()
    if type(msg.cmd) ~= "string" then
        finish(false)
        return
    end
    local cmd = string.lower(msg.cmd)
    if cmd == "upgrade" then
        if up.answered then return end
        up.answered = true
        if type(msg.upgrade) == "table" and msg.upgrade.code == 0 then
            up.state = UP_STATE_SEND
            answer(up.seq, 0, cjson.encode(msg))
        else
            answer(up.seq, 1)
            finish(false)
        end
    elseif cmd == "upgrade_packs" then
        local p = msg.upgrade_packs
        if type(p) == "table" and p.code == 0 and up.state == UP_STATE_SEND_END
            and p.packs == up.blk_count and p.bits == up.pf_send then
            if send("upgrade_ok", { all_packs = up.blk_count, all_bits = up.pf_send }) then
                up.state = UP_STATE_OK_SENT
                percentage = 100
            end
        end
    elseif cmd == "upgrade_ok" then
        -- The device has finished, whether or not we told it to install.
        percentage = 100
        finish(true)
    end
end

local function send_block()
    local buf, n = qv_file.read(up.pf, BLOCK)
    if not buf then
        -- Every byte must have gone out: a file that shrank fails.
        if up.pf_send ~= up.pf_file_len then
            finish(false)
        else
            up.state = UP_STATE_SEND_END
        end
        return
    end
    if up.pf_send + n > up.pf_file_len then
        qv_sys.free(buf)
        finish(false)
        return
    end
    if not qv_ncm_x.send_md(ncm, up.id, buf) then
        finish(false)
        return
    end
    up.blk_count = up.blk_count + 1
    up.pf_send = up.pf_send + n
    percentage = math.min(90, up.pf_send * 90 // up.pf_file_len)
end

local function pump()
    if not ncm then return 0 end
    while true do
        local ok, code, body, id = qv_ncm_x.recv(ncm)
        if not ok then break end
        local ours = up.id ~= 0 and id == up.id
        if code == 0 then
            if ours then
                local decoded, msg = pcall(cjson.decode, body)
                if decoded and type(msg) == "table" then on_answer(msg) else finish(false) end
            else
                qv_ncm_x.close(ncm, id)
            end
        elseif code ~= 3584 then
            -- Lost after "upgrade_ok": the device is installing.
            if ours then finish(up.state == UP_STATE_OK_SENT) else qv_ncm_x.close(ncm, id) end
        end
    end
    while true do
        local obj = qv_ncm_x.recv_md(ncm)
        if not obj then break end
        qv_sys.free(obj)
    end
    if up.id ~= 0 and up.state == UP_STATE_SEND then send_block() end
    return 0
end

local function check()
    if up.id == 0 then return 0 end
    if ((qv_sys.tc() - up.heard) & 0xFFFFFFFF) > SILENCE_MS then
        finish(up.state == UP_STATE_OK_SENT)
    elseif up.state == UP_STATE_SEND_END then
        send("upgrade_packs", { packs = up.blk_count, bits = up.pf_send })
        percentage = 90
    end
    return 0
end

function M.init()
    ncm = qv_ncm.get_ncm("upgrade")
    qv_sys.add_timer(PUMP_TIMER, PUMP_MS, pump)
    qv_sys.add_timer(CHECK_TIMER, CHECK_MS, check)
end

function M.quit()
    if up.id ~= 0 then finish(false) end
    qv_sys.remove_timer(CHECK_TIMER)
    qv_sys.remove_timer(PUMP_TIMER)
    ncm = nil
end

return M
