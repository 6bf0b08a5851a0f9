-- Protocol ids of connections (low 16 bits of a driver key) and sub-protocols.
return {
    NULL = 0,
    UNKNOWN = 1,
    HTTP = 2,
    RTSP = 3,
    WS = 4,
    HTTP_FLV = 5,
    NSPP = 20,
    NSPP_MULTICAST = 21,
    NSPP_BROADCAST = 22,
    NSPP_HTTP = 23,
    NSPP_LOCAL = 820,
    -- sub-protocols
    MEDIA = 0,
    UPGRADE = 1,
    FTP = 2,
}
