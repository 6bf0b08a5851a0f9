#include "test_util.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cjson/cJSON.h>
#include <lauxlib.h>
#include <lua.h>

#include "trovix.h"

namespace trovixtest {

static MemSocket *owner(qv_socket_x *s) { return static_cast<MemSocket *>(s->user); }

static void memClose(qv_socket_x *) {}
static long memSend(qv_socket_x *s, const void *data, size_t len)
{
    MemSocket *m = owner(s);
    if (m->failSend)
        return -1;
    m->output.append(static_cast<const char *>(data), len);
    return static_cast<long>(len);
}
static long memRecv(qv_socket_x *s, void *buf, size_t len)
{
    MemSocket *m = owner(s);
    size_t left = m->input.size() - m->pos;
    if (left == 0)
        return m->peerClosed ? 0 : -2;
    size_t n = std::min(left, len);
    if (!m->chunks.empty()) {
        n = std::min(n, m->chunks[m->chunkIndex % m->chunks.size()]);
        m->chunkIndex++;
    }
    memcpy(buf, m->input.data() + m->pos, n);
    m->pos += n;
    return static_cast<long>(n);
}

static const qv_sock_ops memOps = { memClose, nullptr, nullptr, memSend, memRecv, nullptr, nullptr, nullptr, nullptr };

MemSocket::MemSocket()
{
    sock.fd = -1;
    sock.ops = &memOps;
    sock.user = this;
}

DriverHarness::DriverHarness(const np_driver *driver, uint32_t key)
{
    manager = ncm_create(nullptr);
    conn.sock = &mem.sock;
    conn.id = 1000;
    conn.key = key;
    conn.ops = *driver;
    conn.state = driver->create(manager, conn.id, &mem.sock);
}

DriverHarness::~DriverHarness()
{
    drain();
    conn.ops.free(conn.state);
    ncm_free(manager);
}

void DriverHarness::pump()
{
    for (int i = 0; i < 100000 && state() == 0 && (mem.pos < mem.input.size() || mem.peerClosed); i++) {
        conn.ops.on_readable(manager, &conn, conn.id, &mem.sock, pf_tick_ms());
        if (mem.peerClosed && mem.pos >= mem.input.size())
            break;
    }
}

void DriverHarness::writeAll()
{
    for (int i = 0; i < 1000 && qv_sock_pending(&mem.sock) && state() == 0; i++)
        conn.ops.on_writable(manager, &conn, conn.id, &mem.sock, pf_tick_ms());
}

Posted DriverHarness::drain()
{
    Posted p;
    ncm_text t;
    while (ncm_take_text(manager, &t) == 0) {
        if (t.code == 0 && t.text)
            p.texts.emplace_back(reinterpret_cast<char *>(t.text->data + t.text->start), qv_buf_size(t.text));
        else
            p.events.push_back(t.code);
        qv_buf_free(t.text);
    }
    ncm_media m;
    while (ncm_take_media(manager, &m) == 0) {
        const qv_tag_set *tags = qv_tags();
        if (m.obj->type == tags->buf_md) {
            qv_buf_md *md = static_cast<qv_buf_md *>(m.obj->payload);
            p.media.emplace_back(reinterpret_cast<char *>(md->buf.data + md->buf.start), md->buf.end - md->buf.start);
            p.heads.push_back(md->head);
        } else {
            qv_buf *b = qv_obj_buf(m.obj);
            p.raw.emplace_back(reinterpret_cast<char *>(b->data + b->start), qv_buf_size(b));
        }
        qv_obj_release(m.obj);
    }
    return p;
}

std::string luaRun(lua_State *L, const std::string &code)
{
    if (luaL_loadstring(L, code.c_str()) != LUA_OK || lua_pcall(L, 0, 1, 0) != LUA_OK) {
        std::string err = std::string("error: ") + lua_tostring(L, -1);
        lua_pop(L, 1);
        return err;
    }
    std::string out = luaL_tolstring(L, -1, nullptr);
    lua_pop(L, 2);
    return out;
}

int threadCount()
{
    int n = 0;
    DIR *d = opendir("/proc/self/task");
    while (d && readdir(d))
        n++;
    if (d)
        closedir(d);
    return n;
}

std::string loginText(const std::string &ip, uint16_t port)
{
    return "{\"ip\":\"" + ip + "\",\"port\":" + std::to_string(port) +
           ",\"cmd\":\"login\",\"login\":{\"username\":\"admin\",\"passwd\":\"730418\"}}";
}

void CameraSession::SetUp()
{
    port = camera.start();
    ASSERT_NE(port, 0);
    ASSERT_EQ(trovix_init(""), 0);
    ASSERT_EQ(trovix_login(&id, loginText("127.0.0.1", port).c_str()), 0);
}

void CameraSession::TearDown()
{
    trovix_quit();
    camera.stop();
}

std::string member(const char *json, const std::vector<std::string> &path)
{
    cJSON *root = json ? cJSON_Parse(json) : nullptr;
    const cJSON *node = root;
    for (const auto &key : path)
        node = node ? cJSON_GetObjectItemCaseSensitive(node, key.c_str()) : nullptr;
    std::string out;
    if (cJSON_IsString(node))
        out = node->valuestring;
    else if (cJSON_IsNumber(node))
        out = std::to_string(node->valueint);
    cJSON_Delete(root);
    return out;
}

} // namespace trovixtest
