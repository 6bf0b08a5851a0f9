-- Small helpers on ids, texts and tables.
local M = {}

local socket_id = 1000

-- Ids run 1001, 1002 ... 2147418111, then 1000, 1001 ...
function M.next_socket_id()
    socket_id = socket_id + 1
    if socket_id >= 2147418112 then socket_id = 1000 end
    return socket_id
end

function M.trim(s)
    return (string.gsub(s, "^%s*(.-)%s*$", "%1"))
end

function M.trim_c(s)
    return (string.gsub(s, "^%c*(.-)%c*$", "%1"))
end

function M.trim_cs(s)
    return M.trim(M.trim_c(s))
end

function M.t_is_array(t)
    if type(t) ~= "table" then return false end
    local n = #t
    for k in pairs(t) do
        if type(k) ~= "number" or k > n then return false end
    end
    return true
end

function M.t_is_empty(t)
    return type(t) ~= "table" or next(t) == nil
end

function M.t_is_not_empty(t)
    return not M.t_is_empty(t)
end

function M.t_item(t, ...)
    local v = t
    for _, k in ipairs({ ... }) do
        if type(v) ~= "table" then return nil end
        v = v[k]
    end
    return v
end

local function is_plain(v)
    local ty = type(v)
    return ty == "number" or ty == "string" or ty == "boolean"
end

function M.t_copy(src)
    if type(src) ~= "table" then
        if is_plain(src) then return src end
        return nil
    end
    local out = {}
    for k, v in pairs(src) do
        if is_plain(v) then
            out[k] = v
        elseif type(v) == "table" then
            out[k] = M.t_copy(v)
        end
    end
    return out
end

function M.t_union(dst, src)
    if dst == nil then return M.t_copy(src) end
    if type(src) ~= "table" then return dst end
    for k, v in pairs(src) do
        if is_plain(v) then
            dst[k] = v
        elseif type(v) == "table" then
            if type(dst[k]) == "table" then
                M.t_union(dst[k], v)
            else
                dst[k] = M.t_copy(v)
            end
        end
    end
    return dst
end

function M.t_cp_by(dst, src)
    if type(dst) ~= "table" or type(src) ~= "table" then return dst end
    for k, v in pairs(dst) do
        local s = src[k]
        if type(s) == type(v) then
            if is_plain(s) then
                dst[k] = s
            elseif type(s) == "table" then
                M.t_cp_by(v, s)
            end
        end
    end
    return dst
end

function M.t_is_equal(t1, t2)
    return false
end

function M.pt_in_xywh(x, y, r)
    if type(r) ~= "table" or #r < 4 then return false end
    local x0, y0, w, h = r[1], r[2], r[3], r[4]
    return x0 <= x and x < x0 + w and y0 <= y and y < y0 + h
end

return M
