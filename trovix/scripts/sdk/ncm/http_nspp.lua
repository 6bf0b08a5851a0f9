-- Logins of the framed protocol carried over a long HTTP connection: the
-- same exchange as HTTP-FLV, with a table of logins of its own.
return require("sdk.ncm.http_flv").new()
