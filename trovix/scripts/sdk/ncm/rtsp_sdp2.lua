-- RTSP and SDP texts: the exchange record, the answer parser (RFC 2326
-- headers, RFC 4566 media), the request packers and the Basic and Digest
-- authorisation (RFC 2617) that a camera may ask for.
local util = require("base.util")

local M = {}

M.OPTIONS = 1
M.DESCRIBE = 2
M.SETUP_E = 12
M.PLAY = 20
M.PLAY_ING = 21
M.MAX_MEDIA = 9

M.USER_AGENT = "TROVIX (TROVIX Streaming Media v2019.11.19)"

function M.new_sdp()
    local rec = {
        url = "", username = "admin", passwd = "730418", seq = 0, status = 0,
        protocol = "RTSP/1.0", code = 200, cseq = 0, sent_cseq = 0,
        public = "OPTIONS, DESCRIBE, SETUP, TEARDOWN, PLAY, GET_PARAMETER",
        session = "", timeout = 0, authorization = "",
        content_base = "", www_authenticate = "",
        media = {},
    }
    for i = 1, M.MAX_MEDIA do
        rec.media[i] = { payload_type = 0, t = "", transport = "", control = "", rtpmap = "",
                         fmtp = "", url = "", sps = "", pps = "" }
    end
    return rec
end

-- ---- parsing ----
local function split_url(url)
    local root, path = string.match(url, "^(%a[%w+.-]*://[^/]*)(.*)$")
    if not root then return url, "" end
    return root, path
end

-- The URL of a medium from its control attribute (RFC 2326 C.1.1): an
-- absolute control keeps our own host (cameras often name their internal
-- address), a relative one is taken against the base URL.
function M.media_url(url, base, control)
    local root = split_url(url)
    if control == nil or control == "" or control == "*" then
        return base
    end
    local path = string.match(control, "^%a[%w+.-]*://[^/]*(/.*)$")
    if path then return root .. path end
    if string.match(control, "^%a[%w+.-]*://") then return root end
    if string.sub(control, 1, 1) == "/" then return root .. control end
    if string.sub(base, -1) == "/" then return base .. control end
    return base .. "/" .. control
end

local function header_line(rec, name, value)
    if name == "cseq" then
        rec.cseq = tonumber(value) or -1
    elseif name == "public" then
        rec.public = value
    elseif name == "session" then
        for part in string.gmatch(value, "[^;]+") do
            part = util.trim(part)
            local k, v = string.match(part, "^([^=]+)=(.*)$")
            if not k then
                if rec.session == nil then rec.session = part end
            elseif string.lower(util.trim(k)) == "timeout" then
                rec.timeout = tonumber(util.trim(v)) or 0
            end
        end
    elseif name == "content-base" then
        rec.content_base = value
    elseif name == "content-location" then
        rec.content_location = value
    elseif name == "www-authenticate" then
        rec.www_authenticate[#rec.www_authenticate + 1] = value
    end
end

-- Parses one answer to the exchange of rec: status line, headers and an
-- SDP body. Only what the answer holds is set.
function M.parser(text, rec)
    local url = rec and rec.url
    local out = { media = {}, www_authenticate = {} }
    local head, body = string.match(text, "^(.-\r\n)\r\n(.*)$")
    if not head then head, body = text, "" end
    local first = true
    for line in string.gmatch(head, "([^\r\n]*)\r\n") do
        if first then
            -- An answer's status line; its code may be missing (nil).
            local proto, rest = string.match(line, "^(%S+)(.*)$")
            if proto and string.find(string.lower(proto), "rtsp", 1, true) then
                out.protocol = proto
                out.code = tonumber(string.match(rest, "^%s+(%d+)"))
            end
            first = false
        else
            local name, value = string.match(line, "^([^:]+):(.*)$")
            if name then header_line(out, string.lower(util.trim(name)), util.trim(value)) end
        end
    end
    local current
    for line in string.gmatch(body, "([^\r\n]*)\r?\n?") do
        local k, v = string.match(line, "^(%a)=(.*)$")
        if k == "m" then
            local t, port, transport, pt = string.match(v, "^(%S+)%s+(%S+)%s+(%S+)%s+(%d+)")
            current = nil
            if t and #out.media < M.MAX_MEDIA then
                current = { t = string.lower(t), transport = transport, payload_type = tonumber(pt),
                            control = "", rtpmap = "", fmtp = "" }
                out.media[#out.media + 1] = current
            end
        elseif k == "a" and current then
            local name, value = string.match(v, "^([^:]+):(.*)$")
            name = name and string.lower(name)
            if name == "control" or name == "fmtp" or name == "rtpmap" then
                current[name] = util.trim(value)
            end
        end
    end
    if url then
        local base = out.content_base or out.content_location or url
        for _, m in ipairs(out.media) do
            m.url = M.media_url(url, base, m.control)
        end
    end
    return out
end

-- The medium that carries H.264 video: the first video medium whose rtpmap
-- names H264, else the first video medium when no video medium has an
-- rtpmap. The transport assembles only the channels this medium is set up on.
function M.h264_index(rec)
    local first_video, any_rtpmap
    for i, m in ipairs(rec.media) do
        if m.t == "video" then
            first_video = first_video or i
            if m.rtpmap ~= "" then any_rtpmap = true end
            if string.match(string.lower(m.rtpmap), "^%d+%s+h264/") then return i end
        end
    end
    if not any_rtpmap then return first_video end
    return nil
end

-- ---- authorisation ----
local b64chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"

function M.base64(s)
    local out = {}
    for i = 1, #s, 3 do
        local a, b, c = string.byte(s, i, i + 2)
        local n = a << 16 | (b or 0) << 8 | (c or 0)
        local chars = 2 + (b and 1 or 0) + (c and 1 or 0)
        for j = 1, 4 do
            if j <= chars then
                local v = (n >> (18 - 6 * (j - 1))) & 63
                out[#out + 1] = string.sub(b64chars, v + 1, v + 1)
            else
                out[#out + 1] = "="
            end
        end
    end
    return table.concat(out)
end

local md5_k = {}
for i = 0, 63 do
    md5_k[i] = math.floor(math.abs(math.sin(i + 1)) * 4294967296.0) & 0xFFFFFFFF
end
local md5_s = { 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                5, 9, 14, 20, 5, 9, 14, 20, 5, 9, 14, 20, 5, 9, 14, 20,
                4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21 }

-- MD5 (RFC 1321) as lower-case hex.
function M.md5(msg)
    local len = #msg
    msg = msg .. "\128" .. string.rep("\0", (55 - len) % 64) .. string.pack("<I8", len * 8)
    local a0, b0, c0, d0 = 0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476
    for chunk = 1, #msg, 64 do
        local w = { string.unpack("<I4I4I4I4I4I4I4I4I4I4I4I4I4I4I4I4", msg, chunk) }
        local a, b, c, d = a0, b0, c0, d0
        for i = 0, 63 do
            local f, g
            if i < 16 then
                f, g = (b & c) | (~b & d), i
            elseif i < 32 then
                f, g = (d & b) | (~d & c), (5 * i + 1) % 16
            elseif i < 48 then
                f, g = b ~ c ~ d, (3 * i + 5) % 16
            else
                f, g = c ~ (b | ~d), (7 * i) % 16
            end
            f = (f + a + md5_k[i] + w[g + 1]) & 0xFFFFFFFF
            a, d, c = d, c, b
            b = (b + (((f << md5_s[i + 1]) | (f >> (32 - md5_s[i + 1]))) & 0xFFFFFFFF)) & 0xFFFFFFFF
        end
        a0, b0 = (a0 + a) & 0xFFFFFFFF, (b0 + b) & 0xFFFFFFFF
        c0, d0 = (c0 + c) & 0xFFFFFFFF, (d0 + d) & 0xFFFFFFFF
    end
    local bytes = string.pack("<I4I4I4I4", a0, b0, c0, d0)
    return (string.gsub(bytes, ".", function(ch) return string.format("%02x", string.byte(ch)) end))
end

local function auth_params(text)
    local p = {}
    for k, v in string.gmatch(text, "([%w_-]+)%s*=%s*\"([^\"]*)\"") do p[string.lower(k)] = v end
    for k, v in string.gmatch(text, "([%w_-]+)%s*=%s*([^\",%s]+)") do
        if p[string.lower(k)] == nil then p[string.lower(k)] = v end
    end
    return p
end

-- Picks the strongest challenge the camera offered (Digest before Basic);
-- nil when none is usable.
function M.challenge(list)
    local basic
    for _, text in ipairs(list or {}) do
        local scheme, rest = string.match(text, "^(%S+)%s*(.*)$")
        scheme = scheme and string.lower(scheme)
        if scheme == "digest" then
            local p = auth_params(rest)
            local algorithm = p.algorithm and string.lower(p.algorithm) or "md5"
            if p.nonce and algorithm == "md5" then
                p.scheme = "digest"
                p.nc = 0
                return p
            end
        elseif scheme == "basic" then
            basic = { scheme = "basic" }
        end
    end
    return basic
end

-- The Authorization header line for a request, or "" without a challenge.
function M.authorization(rec, method, uri)
    local ch = rec.challenge
    if not ch then return "" end
    if ch.scheme == "basic" then
        return "Authorization: Basic " .. M.base64(rec.username .. ":" .. rec.passwd) .. "\r\n"
    end
    local realm = ch.realm or ""
    local ha1 = M.md5(rec.username .. ":" .. realm .. ":" .. rec.passwd)
    local ha2 = M.md5(method .. ":" .. uri)
    local fields = string.format('Digest username="%s", realm="%s", nonce="%s", uri="%s"',
        rec.username, realm, ch.nonce, uri)
    local response
    local qop = ch.qop and string.find("," .. string.lower(string.gsub(ch.qop, "%s", "")) .. ",", ",auth,", 1, true)
    if qop then
        ch.nc = ch.nc + 1
        local nc = string.format("%08x", ch.nc)
        local cnonce = require("qv_sys").rand_char(16)
        response = M.md5(ha1 .. ":" .. ch.nonce .. ":" .. nc .. ":" .. cnonce .. ":auth:" .. ha2)
        fields = fields .. string.format(', qop=auth, nc=%s, cnonce="%s"', nc, cnonce)
    else
        response = M.md5(ha1 .. ":" .. ch.nonce .. ":" .. ha2)
    end
    fields = fields .. string.format(', response="%s"', response)
    if ch.opaque then fields = fields .. string.format(', opaque="%s"', ch.opaque) end
    return "Authorization: " .. fields .. "\r\n"
end

-- ---- requests ----
local function session_line(rec)
    if rec.session ~= "" then return "Session: " .. rec.session .. "\r\n" end
    return ""
end

local function request(rec, method, url, extra)
    return string.format("%s %s RTSP/1.0\r\nCSeq: %d\r\nUser-Agent: %s\r\n", method, url, rec.sent_cseq, M.USER_AGENT)
        .. M.authorization(rec, method, url) .. (extra or "") .. "\r\n"
end

function M.pack_options(rec)
    return request(rec, "OPTIONS", rec.url, session_line(rec))
end

function M.pack_describe(rec)
    return request(rec, "DESCRIBE", rec.url, "Accept: application/sdp\r\n")
end

function M.pack_setup(rec, i, channel)
    local transport = string.format("Transport: RTP/AVP/TCP;unicast;interleaved=%d-%d\r\n", channel, channel + 1)
    return request(rec, "SETUP", rec.media[i].url, transport .. session_line(rec))
end

function M.pack_play(rec)
    return request(rec, "PLAY", rec.play_url or rec.url, session_line(rec) .. "Range: npt=0.000-\r\n")
end

function M.pack_get_parameter(rec)
    return request(rec, "GET_PARAMETER", rec.play_url or rec.url, session_line(rec))
end

return M
