-- Wireshark dissector for the radio module's serial command frames (captures written by rfcfg
-- --capture, the window's capture button and rfmodule-sim --capture: link type 147, USER0).
--
-- Frame: group, 0x00, code (bit 7 set in a reply), payload length N, N payload bytes, XOR of
-- all bytes before it. Requests and replies are told apart by the code byte, not by the packet's
-- direction: a capture taken on the module's side has the directions the other way round.
--
-- The field names are documented in docs/wireshark.md; they stay stable.

local proto = Proto("rfmodule", "RF module serial protocol")

---------------------------------------------------------------------------------------------
-- Texts: the window's item texts, English with the Chinese original where the window has one.

local groups = { [0x01] = "module", [0x04] = "whitelist", [0x05] = "network" }

-- Command names by group and code (the reply carries the code with bit 7 set).
local commands = {
    [0x01] = { [0x01] = "write configuration", [0x02] = "read configuration",
               [0x06] = "read version", [0x07] = "reset module" },
    [0x04] = { [0x01] = "write whitelist", [0x02] = "read whitelist" },
    [0x05] = { [0x01] = "send data", [0x08] = "route search" },
}

local function numbers(from, to)
    local t = {}
    for n = from, to do t[n] = tostring(n) end
    return t
end

local power_items = { [0] = "20dBm", "17dBm", "15dBm", "13dBm", "11dBm", "9dBm", "7dBm", "5dBm" }
local interface_items = { [0] = "Hex (16进制命令)", [1] = "Transp. (透明模式)" }
local device_items = { [0] = "Slave", [1] = "Master" }
local on_off_items = { [0] = "off" } -- any other value is on
local uart_baud_items = { [1] = "1200", "2400", "4800", "9600", "14400", "19200", "28800",
                          "38400", "57600", "76800", "115200", "230400" }
local parity_items = { [0] = "None (无校验)", [1] = "Odd (奇校验)", [2] = "Even (偶校验)" }
local stop_items = { [0] = "1 bit (1位停止位)", [1] = "2 bits (2位停止位)" }
local rf_rate_items = { [1] = "1200", "4800", "9600", "38400" }
local bandwidth_items = { [7] = "7", [8] = "8", [9] = "9" }
local sf_items = numbers(7, 12)
local route_mode_items = { [0] = "No routing (禁止路由)", [1] = "Auto routing (自动路由)",
                           [2] = "Forced routing (强制路由)", [3] = "Source routing (源路由)" }
local ack_items = { [0] = "no", [1] = "yes" }
local status_items = { [0] = "success" }
local type_items = { [0] = "request", [1] = "reply", [2] = "configuration-mode bytes",
                     [3] = "not a frame" }
local checksum_status_items = { [0] = "bad", [1] = "good" }

-- LoRa raw bit rate by bandwidth code (7, 8, 9) and spreading factor (7 ... 12), as the window
-- shows it.
local lora_rates = {
    [7] = { "5.47kbps", "3.125kbps", "1.758kbps", "0.977kbps", "0.537kbps", "0.293kbps" },
    [8] = { "10.94kbps", "6.25kbps", "3.516kbps", "1.954kbps", "1.074kbps", "0.586kbps" },
    [9] = { "21.88kbps", "12.5kbps", "7.032kbps", "3.908kbps", "2.148kbps", "1.172kbps" },
}

---------------------------------------------------------------------------------------------
-- Fields

local f = {
    type = ProtoField.uint8("rfmodule.type", "Type", base.DEC, type_items),
    request = ProtoField.bool("rfmodule.request", "Request"),
    reply = ProtoField.bool("rfmodule.reply", "Reply"),
    group = ProtoField.uint8("rfmodule.group", "Group", base.HEX, groups),
    reserved = ProtoField.uint8("rfmodule.reserved", "Reserved", base.HEX),
    code = ProtoField.uint8("rfmodule.code", "Code", base.HEX),
    command = ProtoField.string("rfmodule.command", "Command"),
    length = ProtoField.uint8("rfmodule.length", "Payload length", base.DEC),
    payload = ProtoField.bytes("rfmodule.payload", "Payload"),
    checksum = ProtoField.uint8("rfmodule.checksum", "Checksum", base.HEX),
    checksum_status = ProtoField.uint8("rfmodule.checksum.status", "Checksum status", base.DEC,
                                       checksum_status_items),
    checksum_expected = ProtoField.uint8("rfmodule.checksum.expected", "Expected checksum",
                                         base.HEX),
    status = ProtoField.uint8("rfmodule.status", "Status", base.HEX, status_items),
    unused = ProtoField.bytes("rfmodule.unused", "Bytes not interpreted"),
    raw = ProtoField.bytes("rfmodule.bytes", "Bytes"),

    request_in = ProtoField.framenum("rfmodule.request_in", "Request in", base.NONE,
                                     frametype.REQUEST),
    response_in = ProtoField.framenum("rfmodule.response_in", "Reply in", base.NONE,
                                      frametype.RESPONSE),
    time = ProtoField.relative_time("rfmodule.time", "Time since request"),
    late = ProtoField.bool("rfmodule.late", "Late reply"),

    -- Configuration record (write command's payload, read reply's bytes 4 to 19); the keys are
    -- those of rfcfg config get.
    cfg = ProtoField.bytes("rfmodule.cfg", "Configuration record"),
    cfg_marker = ProtoField.uint16("rfmodule.cfg.marker", "Marker", base.HEX),
    cfg_channel = ProtoField.uint8("rfmodule.cfg.channel", "Channel (信道号)", base.DEC),
    cfg_power = ProtoField.uint8("rfmodule.cfg.power", "TX power (发射功率)", base.DEC,
                                 power_items),
    cfg_interface_mode = ProtoField.uint8("rfmodule.cfg.interface_mode", "Interface (接口模式)",
                                          base.DEC, interface_items),
    cfg_device_type = ProtoField.uint8("rfmodule.cfg.device_type", "Type (设备类型)", base.DEC,
                                       device_items),
    cfg_network_id = ProtoField.uint16("rfmodule.cfg.network_id", "Network ID (网络ID)",
                                       base.HEX),
    cfg_address = ProtoField.uint16("rfmodule.cfg.address", "Address (模块地址)", base.HEX),
    cfg_whitelist = ProtoField.uint8("rfmodule.cfg.whitelist", "Enable whitelist (使能白名单表)",
                                     base.DEC),
    cfg_reserved = ProtoField.uint8("rfmodule.cfg.reserved", "Reserved", base.HEX),
    cfg_rf_data_rate = ProtoField.uint8("rfmodule.cfg.rf_data_rate", "Air rate (空中速率)",
                                        base.DEC, rf_rate_items),
    cfg_uart = ProtoField.uint8("rfmodule.cfg.uart", "Module serial settings", base.HEX),
    cfg_uart_baud = ProtoField.uint8("rfmodule.cfg.uart_baud", "UART rate (串口速率)", base.DEC,
                                     uart_baud_items, 0xf0),
    cfg_uart_bit3 = ProtoField.uint8("rfmodule.cfg.uart_bit3", "Bit 3", base.DEC, nil, 0x08),
    cfg_uart_parity = ProtoField.uint8("rfmodule.cfg.uart_parity", "Parity (校验位)", base.DEC,
                                       parity_items, 0x06),
    cfg_uart_stop_bits = ProtoField.uint8("rfmodule.cfg.uart_stop_bits", "Stop bits (停止位)",
                                          base.DEC, stop_items, 0x01),
    cfg_bandwidth = ProtoField.uint8("rfmodule.cfg.bandwidth", "Bandwidth (信号带宽)", base.DEC,
                                     bandwidth_items),
    cfg_spreading_factor = ProtoField.uint8("rfmodule.cfg.spreading_factor",
                                            "Spreading (扩频因子)", base.DEC, sf_items),
    cfg_lora_bit_rate = ProtoField.string("rfmodule.cfg.lora_bit_rate", "LoRa bit rate"),

    -- Version reply
    version = ProtoField.string("rfmodule.version", "Version (模块程序版本)"),
    version_main = ProtoField.uint8("rfmodule.version.main", "Main version", base.HEX),
    version_sub = ProtoField.uint8("rfmodule.version.sub", "Sub-version", base.HEX),
    date = ProtoField.string("rfmodule.date", "Release date (发布日期)"),
    date_day = ProtoField.uint8("rfmodule.date.day", "Day", base.HEX),
    date_month = ProtoField.uint8("rfmodule.date.month", "Month", base.HEX),
    date_year = ProtoField.uint8("rfmodule.date.year", "Year after 2000", base.HEX),

    -- Whitelist
    wl_entry = ProtoField.uint16("rfmodule.whitelist.entry", "Entry", base.HEX),
    wl_spare = ProtoField.uint8("rfmodule.whitelist.spare", "Third byte", base.HEX),

    -- Route search and its reply
    route_target = ProtoField.uint16("rfmodule.route.target", "Target (目标地址)", base.HEX),
    route_hop_limit = ProtoField.uint8("rfmodule.route.hop_limit", "Max hops (最大跳数)",
                                       base.DEC),
    route_option = ProtoField.uint8("rfmodule.route.option", "Option", base.HEX),
    route_relay_count = ProtoField.uint8("rfmodule.route.relay_count", "Relays (中继数)",
                                         base.DEC),
    route_relay = ProtoField.uint16("rfmodule.route.relay", "Relay (中继节点)", base.HEX),

    -- Data send and its report
    data_target = ProtoField.uint16("rfmodule.data.target", "Target (目标地址)", base.HEX),
    data_ack = ProtoField.uint8("rfmodule.data.ack", "ACK request", base.DEC, ack_items),
    data_hop_limit = ProtoField.uint8("rfmodule.data.hop_limit", "Max hops (最大跳数)",
                                      base.DEC),
    data_route_mode = ProtoField.uint8("rfmodule.data.route_mode", "Routing (路由方式)", base.DEC,
                                       route_mode_items),
    data_relay_count = ProtoField.uint8("rfmodule.data.relay_count", "Relays (中继数)", base.DEC),
    data_relay = ProtoField.uint16("rfmodule.data.relay", "Relay (中继列表)", base.HEX),
    data_length = ProtoField.uint8("rfmodule.data.length", "Data length (数据长度)", base.DEC),
    data_bytes = ProtoField.bytes("rfmodule.data.bytes", "Data", base.SPACE),
}
proto.fields = f

local e = {
    bad_checksum = ProtoExpert.new("rfmodule.checksum.bad", "Bad checksum",
                                   expert.group.CHECKSUM, expert.severity.ERROR),
    short_frame = ProtoExpert.new("rfmodule.short_frame", "Short frame",
                                  expert.group.MALFORMED, expert.severity.WARN),
    short_for_kind = ProtoExpert.new("rfmodule.short_for_kind", "Too short for its kind",
                                     expert.group.MALFORMED, expert.severity.WARN),
    not_a_frame = ProtoExpert.new("rfmodule.not_a_frame", "Bytes that are no frame",
                                  expert.group.PROTOCOL, expert.severity.NOTE),
    config_mode = ProtoExpert.new("rfmodule.config_mode", "Configuration-mode bytes",
                                  expert.group.SEQUENCE, expert.severity.CHAT),
    unknown = ProtoExpert.new("rfmodule.unknown_command", "No command the tool knows",
                              expert.group.UNDECODED, expert.severity.WARN),
    failure = ProtoExpert.new("rfmodule.failure", "The module reports a failure",
                              expert.group.RESPONSE_CODE, expert.severity.NOTE),
    no_reply = ProtoExpert.new("rfmodule.no_reply", "No reply within the wait",
                               expert.group.SEQUENCE, expert.severity.NOTE),
    late = ProtoExpert.new("rfmodule.late_reply", "Late reply", expert.group.SEQUENCE,
                           expert.severity.NOTE),
    unsolicited = ProtoExpert.new("rfmodule.unsolicited", "Reply to no request in the capture",
                                  expert.group.SEQUENCE, expert.severity.NOTE),
}
proto.experts = e

proto.prefs.reply_wait = Pref.uint("Reply wait (ms)", 0,
    "How long a request waits for its reply; a reply after that links to it as late, and a "
    .. "request sent after that is a new wait (a retry). 0: one second, as rfcfg waits")

local f_comment = Field.new("frame.comment")

---------------------------------------------------------------------------------------------
-- Framing

local function is_group(b)
    return b == 0x01 or b == 0x04 or b == 0x05
end

local function xor_of(tvb, offset, count)
    local x = 0
    for i = offset, offset + count - 1 do
        x = bit32.bxor(x, tvb(i, 1):uint())
    end
    return x
end

-- True when a whole frame with a right checksum starts at `at`.
local function good_frame_at(tvb, at)
    local len = tvb:len()
    if len - at < 5 or not is_group(tvb(at, 1):uint()) or tvb(at + 1, 1):uint() ~= 0 then
        return false
    end
    local total = 5 + tvb(at + 3, 1):uint()
    return len - at >= total and xor_of(tvb, at, total - 1) == tvb(at + total - 1, 1):uint()
end

local function is_config_mode_at(tvb, at)
    return tvb:len() - at >= 3 and tvb(at, 3):string() == "---"
end

local function could_start(tvb, at)
    if is_config_mode_at(tvb, at) then return true end
    if not is_group(tvb(at, 1):uint()) then return false end
    return at + 1 >= tvb:len() or tvb(at + 1, 1):uint() == 0
end

-- Splits the packet into items: {kind = "frame"|"bad"|"short"|"config"|"noise", at, len}.
-- A capture holds one item per packet; a packet of several (another sniffer's chunks) is read
-- the same way.
local function items_of(tvb)
    local items, at, len = {}, 0, tvb:len()
    while at < len do
        if is_config_mode_at(tvb, at) then
            items[#items + 1] = { kind = "config", at = at, len = 3 }
            at = at + 3
        elseif could_start(tvb, at) then
            local total = len - at >= 4 and 5 + tvb(at + 3, 1):uint() or nil
            local kind, size = nil, nil
            if total and len - at >= total then
                if xor_of(tvb, at, total - 1) == tvb(at + total - 1, 1):uint() then
                    kind, size = "frame", total
                else
                    kind, size = "bad", total
                end
            else
                kind, size = "short", len - at
            end
            if kind ~= "frame" then
                -- A good frame inside ends this one: a header that lost its tail.
                for j = at + 1, at + size - 1 do
                    if good_frame_at(tvb, j) then
                        kind, size = "short", j - at
                        break
                    end
                end
            end
            items[#items + 1] = { kind = kind, at = at, len = size }
            at = at + size
        else
            local from = at
            at = at + 1
            while at < len and not could_start(tvb, at) do at = at + 1 end
            items[#items + 1] = { kind = "noise", at = from, len = at - from }
        end
    end
    return items
end

---------------------------------------------------------------------------------------------
-- Pairing a reply with its request, as the tool's link does: a reply answers the oldest
-- pending request it answers (same group, the code with bit 7, and for the network group the
-- same target); a request waits until its deadline, after which the last one expired stays owed
-- a late reply until the next request is sent.

local state = {}
local pairs_of = {} -- per packet number and item: what the first pass found

function proto.init()
    state = { pending = {}, overdue = nil }
    pairs_of = {}
end

local function answers(request, reply)
    if #request < 5 or #reply < 5 then return false end
    if request:byte(1) ~= reply:byte(1) or bit32.bor(request:byte(3), 0x80) ~= reply:byte(3) then
        return false
    end
    if request:byte(1) ~= 0x05 then return true end
    if #request < 7 or #reply < 7 then return false end
    return request:sub(5, 6) == reply:sub(5, 6)
end

-- The wait after which a request is given up. rfcfg waits one second by default, the window one
-- second plus the request's and its reply's time on the line: a reply in between still links to
-- its request, marked late.
local function wait_of()
    if proto.prefs.reply_wait > 0 then return proto.prefs.reply_wait / 1000 end
    return 1
end

-- The capture stamps a request a little after the link started waiting for its reply, so a
-- retry sent right at the end of the wait may be stamped a hair before the stamp plus the wait.
local stamp_slack = 0.01

local function expire(now, record)
    local kept = {}
    for _, p in ipairs(state.pending) do
        if p.deadline - stamp_slack <= now then
            state.overdue = p
            record[p.key] = record[p.key] or {}
            record[p.key].no_reply = true
        else
            kept[#kept + 1] = p
        end
    end
    state.pending = kept
end

-- First pass only: records for each request and reply item what it pairs with.
local function pair(pinfo, index, bytes, is_reply)
    local key = pinfo.number .. ":" .. index
    local now = pinfo.abs_ts
    expire(now, pairs_of)
    pairs_of[key] = pairs_of[key] or {}
    if not is_reply then
        state.overdue = nil
        state.pending[#state.pending + 1] = { key = key, frame = pinfo.number, bytes = bytes,
                                              ts = now, deadline = now + wait_of() }
        return
    end
    for i, p in ipairs(state.pending) do
        if answers(p.bytes, bytes) then
            table.remove(state.pending, i)
            pairs_of[key].request = { frame = p.frame, dt = now - p.ts }
            pairs_of[p.key] = pairs_of[p.key] or {}
            pairs_of[p.key].reply = pinfo.number
            return
        end
    end
    local o = state.overdue
    if o and answers(o.bytes, bytes) then
        state.overdue = nil
        pairs_of[key].request = { frame = o.frame, dt = now - o.ts, late = true }
        pairs_of[o.key].reply = pinfo.number
        pairs_of[o.key].late = true
        return
    end
    pairs_of[key].unsolicited = true
end

local function nstime(seconds)
    local s = math.floor(seconds)
    return NSTime.new(s, math.floor((seconds - s) * 1e9 + 0.5))
end

---------------------------------------------------------------------------------------------
-- Payloads

local function hex4(tvb, at)
    return string.format("%04x", tvb(at, 2):le_uint())
end

local function add_word(tree, field, tvb, at)
    return tree:add_le(field, tvb(at, 2))
end

local function add_list(tree, field, range, items)
    local item = tree:add(field, range)
    if items and items[range:uint()] == nil then
        item:append_text(" (no item of the window's list)")
    end
    return item
end

local function dissect_record(tvb, at, tree)
    local rec = tree:add(f.cfg, tvb(at, 16))
    rec:add(f.cfg_marker, tvb(at, 2))
    add_list(rec, f.cfg_channel, tvb(at + 2, 1), numbers(0, 31))
    add_list(rec, f.cfg_power, tvb(at + 3, 1), power_items)
    add_list(rec, f.cfg_interface_mode, tvb(at + 4, 1), interface_items)
    add_list(rec, f.cfg_device_type, tvb(at + 5, 1), device_items)
    add_word(rec, f.cfg_network_id, tvb, at + 6)
    add_word(rec, f.cfg_address, tvb, at + 8)
    local wl = tvb(at + 10, 1):uint()
    rec:add(f.cfg_whitelist, tvb(at + 10, 1)):append_text(wl == 0 and " (off)" or " (on)")
    rec:add(f.cfg_reserved, tvb(at + 11, 1))
    add_list(rec, f.cfg_rf_data_rate, tvb(at + 12, 1), rf_rate_items)
    local uart = rec:add(f.cfg_uart, tvb(at + 13, 1))
    local u = tvb(at + 13, 1):uint()
    uart:add(f.cfg_uart_baud, tvb(at + 13, 1))
    uart:add(f.cfg_uart_bit3, tvb(at + 13, 1))
    uart:add(f.cfg_uart_parity, tvb(at + 13, 1))
    uart:add(f.cfg_uart_stop_bits, tvb(at + 13, 1))
    uart:append_text(string.format(": %s %s %s", uart_baud_items[bit32.rshift(u, 4)] or "?",
                                   (parity_items[bit32.band(bit32.rshift(u, 1), 3)] or "?"),
                                   stop_items[bit32.band(u, 1)]))
    local bw, sf = tvb(at + 14, 1):uint(), tvb(at + 15, 1):uint()
    add_list(rec, f.cfg_bandwidth, tvb(at + 14, 1), bandwidth_items)
    add_list(rec, f.cfg_spreading_factor, tvb(at + 15, 1), sf_items)
    if lora_rates[bw] and lora_rates[bw][sf - 6] then
        rec:add(f.cfg_lora_bit_rate, tvb(at + 14, 2), lora_rates[bw][sf - 6]):set_generated()
    end
    return string.format("channel %d, %s, %s, network %s, address %s",
                         tvb(at + 2, 1):uint(), power_items[tvb(at + 3, 1):uint()] or "?",
                         device_items[tvb(at + 5, 1):uint()] or "?", hex4(tvb, at + 6),
                         hex4(tvb, at + 8))
end

local function dissect_whitelist(tvb, at, tree)
    local entries = {}
    for n = 0, 4 do
        local item = add_word(tree, f.wl_entry, tvb, at + 3 * n)
        local word = hex4(tvb, at + 3 * n)
        item:prepend_text(string.format("%d: ", n + 1))
        if word == "ffff" then item:append_text(" (empty)") end
        item:add(f.wl_spare, tvb(at + 3 * n + 2, 1))
        entries[#entries + 1] = word
    end
    return table.concat(entries, " ")
end

local function status_text(tree, tvb, at, pinfo)
    local s = tvb(at, 1):uint()
    local item = tree:add(f.status, tvb(at, 1))
    if s ~= 0 then
        item:add_proto_expert_info(e.failure, string.format("The module reports status 0x%02x", s))
        return string.format("failure (status 0x%02x)", s)
    end
    return "success"
end

-- Adds the payload's fields; returns the item's description, and the offset past the bytes it
-- read (the checksum's offset for a complete payload), or nil when too short for its kind.
local function dissect_payload(tvb, at, total, group, code, is_reply, tree, pinfo)
    local last = at + total - 1 -- the checksum byte
    local p = at + 4
    local have = last - p       -- payload bytes
    local function need(n) return have >= n end
    local req = bit32.band(code, 0x7f)
    if not is_reply then
        if group == 0x01 and req == 0x01 and need(16) then
            return "write configuration: " .. dissect_record(tvb, p, tree), p + 16
        elseif group == 0x04 and req == 0x01 and need(15) then
            return "write whitelist: " .. dissect_whitelist(tvb, p, tree), p + 15
        elseif group == 0x05 and req == 0x08 and need(4) then
            add_word(tree, f.route_target, tvb, p)
            tree:add(f.route_hop_limit, tvb(p + 2, 1))
            tree:add(f.route_option, tvb(p + 3, 1))
            return string.format("route search to %s within %d hops", hex4(tvb, p),
                                 tvb(p + 2, 1):uint()), p + 4
        elseif group == 0x05 and req == 0x01 and need(6) then
            add_word(tree, f.data_target, tvb, p)
            tree:add(f.data_ack, tvb(p + 2, 1))
            tree:add(f.data_hop_limit, tvb(p + 3, 1))
            local mode = tvb(p + 4, 1):uint()
            tree:add(f.data_route_mode, tvb(p + 4, 1))
            local q = p + 5
            local relays = {}
            if mode == 3 then
                local r = tvb(q, 1):uint()
                tree:add(f.data_relay_count, tvb(q, 1))
                q = q + 1
                for i = 1, r do
                    if q + 2 > last then return nil end
                    add_word(tree, f.data_relay, tvb, q)
                    relays[#relays + 1] = hex4(tvb, q)
                    q = q + 2
                end
            end
            if q >= last then return nil end
            local n = tvb(q, 1):uint()
            tree:add(f.data_length, tvb(q, 1))
            q = q + 1
            if q + n > last then return nil end
            if n > 0 then tree:add(f.data_bytes, tvb(q, n)) end
            local text = string.format("send %d byte%s to %s", n, n == 1 and "" or "s",
                                       hex4(tvb, p))
            if #relays > 0 then text = text .. " via " .. table.concat(relays, " ") end
            return text, q + n
        elseif (group == 0x01 or group == 0x04) and commands[group][req] then
            return commands[group][req], p
        end
        return nil
    end
    -- Replies
    if group == 0x01 and (req == 0x01 or req == 0x07) and need(1) then
        local words = status_text(tree, tvb, p, pinfo)
        return (req == 0x01 and "configuration written: " or "reset: ") .. words, p + 1
    elseif group == 0x04 and req == 0x01 and need(1) then
        return "whitelist written: " .. status_text(tree, tvb, p, pinfo), p + 1
    elseif group == 0x01 and req == 0x02 and need(16) then
        return "configuration: " .. dissect_record(tvb, p, tree), p + 16
    elseif group == 0x04 and req == 0x02 and need(15) then
        return "whitelist: " .. dissect_whitelist(tvb, p, tree), p + 15
    elseif group == 0x01 and req == 0x06 and need(7) then
        local main, sub = tvb(p + 1, 1):uint(), tvb(p + 2, 1):uint()
        local day, month, year = tvb(p + 4, 1):uint(), tvb(p + 5, 1):uint(), tvb(p + 6, 1):uint()
        local version = string.format("%x.%02x", main, sub)
        local date = string.format("20%02x-%02x-%02x", year, month, day)
        tree:add(f.version, tvb(p + 1, 2), version)
        tree:add(f.version_main, tvb(p + 1, 1))
        tree:add(f.version_sub, tvb(p + 2, 1))
        tree:add(f.date, tvb(p + 4, 3), date)
        tree:add(f.date_day, tvb(p + 4, 1))
        tree:add(f.date_month, tvb(p + 5, 1))
        tree:add(f.date_year, tvb(p + 6, 1))
        tree:add(f.unused, tvb(p, 1))
        tree:add(f.unused, tvb(p + 3, 1))
        return string.format("version %s, released %s", version, date), p + 7
    elseif group == 0x05 and (req == 0x01 or req == 0x08) and need(3) then
        add_word(tree, req == 0x01 and f.data_target or f.route_target, tvb, p)
        local s = tvb(p + 2, 1):uint()
        local words = status_text(tree, tvb, p + 2, pinfo)
        if req == 0x01 then
            return string.format("data to %s: %s", hex4(tvb, p), words), p + 3
        end
        if s ~= 0 then
            return string.format("no route to %s: status 0x%02x", hex4(tvb, p), s), p + 3
        end
        if not need(5) then return nil end
        tree:add(f.unused, tvb(p + 3, 1))
        local n = tvb(p + 4, 1):uint()
        tree:add(f.route_relay_count, tvb(p + 4, 1))
        local relays, q = {}, p + 5
        for i = 1, n do
            if q + 2 > last then
                tree:add_proto_expert_info(e.short_for_kind, string.format(
                    "Counts %d relays but carries %d", n, #relays))
                break
            end
            add_word(tree, f.route_relay, tvb, q)
            relays[#relays + 1] = hex4(tvb, q)
            q = q + 2
        end
        if n == 0 then return string.format("route to %s: direct, no relay", hex4(tvb, p)), q end
        return string.format("route to %s: %d relay%s: %s", hex4(tvb, p), n,
                             n == 1 and "" or "s", table.concat(relays, " ")), q
    end
    return nil
end

---------------------------------------------------------------------------------------------
-- The dissector

local function dissect_frame(tvb, item, tree, pinfo, index)
    local at, total = item.at, item.len
    local group, code, n = tvb(at, 1):uint(), tvb(at + 2, 1):uint(), tvb(at + 3, 1):uint()
    local is_reply = bit32.band(code, 0x80) ~= 0
    local name = commands[group] and commands[group][bit32.band(code, 0x7f)]
    local sub = tree:add(proto, tvb(at, total))
    sub:add(f.type, is_reply and 1 or 0):set_generated()
    sub:add(is_reply and f.reply or f.request, true):set_generated()
    sub:add(f.group, tvb(at, 1))
    sub:add(f.reserved, tvb(at + 1, 1))
    local code_item = sub:add(f.code, tvb(at + 2, 1))
    if name then
        code_item:append_text(" (" .. name .. (is_reply and ", reply)" or ")"))
        sub:add(f.command, tvb(at + 2, 1), name):set_generated()
    end
    sub:add(f.length, tvb(at + 3, 1))
    if n > 0 then sub:add(f.payload, tvb(at + 4, n)) end

    local expected = xor_of(tvb, at, total - 1)
    local found = tvb(at + total - 1, 1):uint()
    local ck = sub:add(f.checksum, tvb(at + total - 1, 1))
    sub:add(f.checksum_status, expected == found and 1 or 0):set_generated()
    local words
    if expected ~= found then
        sub:add(f.checksum_expected, expected):set_generated()
        ck:add_proto_expert_info(e.bad_checksum, string.format(
            "Bad checksum: expected 0x%02x, found 0x%02x", expected, found))
        words = string.format("bad checksum (expected %02x, found %02x)", expected, found)
    end

    local text, stop
    if name then
        text, stop = dissect_payload(tvb, at, total, group, code, is_reply, sub, pinfo)
        if not text then
            sub:add_proto_expert_info(e.short_for_kind)
            text = (is_reply and "reply to " or "") .. name .. ", too short for its kind"
        elseif stop < at + total - 1 then
            sub:add(f.unused, tvb(stop, at + total - 1 - stop))
        end
    else
        sub:add_proto_expert_info(e.unknown, string.format(
            "No command the tool knows: group 0x%02x, code 0x%02x", group, code))
        text = string.format("group 0x%02x, code 0x%02x", group, code)
    end
    if words then text = text .. "; " .. words end

    -- Only frames with a right checksum take part: the link drops the others.
    if expected == found then
        local bytes = tvb(at, total):raw()
        if not pinfo.visited then pair(pinfo, index, bytes, is_reply) end
        local p = pairs_of[pinfo.number .. ":" .. index] or {}
        if p.request then
            local r = sub:add(f.request_in, p.request.frame)
            r:set_generated()
            sub:add(f.time, nstime(p.request.dt)):set_generated()
            if p.request.late then
                sub:add(f.late, true):set_generated()
                r:add_proto_expert_info(e.late, "Late reply: came after its request's wait")
            end
        elseif p.unsolicited and is_reply then
            sub:add_proto_expert_info(e.unsolicited)
        end
        if p.reply then
            sub:add(f.response_in, p.reply):set_generated()
        elseif p.no_reply and not is_reply then
            sub:add_proto_expert_info(e.no_reply)
        end
    end
    sub:append_text(", " .. (is_reply and "Reply" or "Request") .. ": " .. text)
    return (is_reply and "Reply: " or "Request: ") .. text
end

function proto.dissector(tvb, pinfo, tree)
    if tvb:len() == 0 then return 0 end
    pinfo.cols.protocol = "RFMODULE"
    local infos = {}
    for index, item in ipairs(items_of(tvb)) do
        if item.kind == "frame" or item.kind == "bad" then
            infos[#infos + 1] = dissect_frame(tvb, item, tree, pinfo, index)
        else
            local sub = tree:add(proto, tvb(item.at, item.len))
            local text
            if item.kind == "config" then
                sub:add(f.type, 2):set_generated()
                sub:add(f.request, true):set_generated()
                sub:add_proto_expert_info(e.config_mode, "Configuration-mode bytes (2D 2D 2D)")
                text = "configuration-mode bytes"
                infos[#infos + 1] = "Request: " .. text
            else
                sub:add(f.type, 3):set_generated()
                if item.kind == "short" then
                    local announced = item.len >= 4 and 5 + tvb(item.at + 3, 1):uint() or nil
                    text = announced and string.format("short frame: %d of %d bytes", item.len,
                                                       announced)
                                     or string.format("short frame: %d bytes, no whole header",
                                                      item.len)
                    sub:add_proto_expert_info(e.short_frame, "Short frame: " .. text:sub(14))
                else
                    text = string.format("%d byte%s that are no frame", item.len,
                                         item.len == 1 and "" or "s")
                    sub:add_proto_expert_info(e.not_a_frame)
                end
                infos[#infos + 1] = text
            end
            sub:add(f.raw, tvb(item.at, item.len))
            sub:append_text(", " .. text)
        end
    end
    local comment = f_comment()
    local info = table.concat(infos, "; ")
    if comment and #infos == 1 and not infos[1]:find("^Re") then
        info = info .. " (" .. tostring(comment.value) .. ")"
    end
    pinfo.cols.info = info
    return tvb:len()
end

DissectorTable.get("wtap_encap"):add(wtap_encaps and wtap_encaps.USER0 or wtap.USER0, proto)
