// Containers, hashes, tagged values, threads and the portability layer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "bcast.h"
#include "qv_core.h"

TEST(Hashes, MatchTheirPublishedValues)
{
    EXPECT_EQ(qv_h1("", 0), 312737325u);
    EXPECT_EQ(qv_tag(""), 625474650u);
    EXPECT_EQ(qv_h1("abc", 3), 987229385u);
    EXPECT_EQ(bcast_tag_hash("abc", 3), 987229385u);
    EXPECT_EQ(2u * bcast_tag_hash("abc", 3), 1974458770u);
    // The chain hash of the two keys used below really collides.
    EXPECT_EQ(qv_h2("k803", 4), qv_h2("k815", 4));
}

TEST(Hashes, TagsAreComputedOncePerName)
{
    const qv_tag_set *t = qv_tags();
    EXPECT_EQ(t->obj, qv_tag("qv_obj"));
    EXPECT_EQ(t->buf_md, qv_tag("qv_buf_md"));
    EXPECT_NE(t->buf, t->buf_md);
    EXPECT_EQ(qv_tags(), t);
}

TEST(HashMap, KeysWithCollidingHashesStayDistinct)
{
    qv_hmap *map = qv_hmap_create(1); // one bucket: every key shares the chain
    int a = 1, b = 2;
    ASSERT_EQ(qv_hmap_insert(map, "k803", 4, &a), 0);
    ASSERT_EQ(qv_hmap_insert(map, "k815", 4, &b), 0);
    EXPECT_EQ(qv_hmap_insert(map, "k803", 4, &b), -1);
    ASSERT_NE(qv_hmap_find(map, "k803", 4), nullptr);
    EXPECT_EQ(qv_hmap_find(map, "k803", 4)->value, &a);
    EXPECT_EQ(qv_hmap_find(map, "k815", 4)->value, &b);
    EXPECT_EQ(qv_hmap_find(map, "k8", 2), nullptr);
    qv_hmap_remove(map, qv_hmap_find(map, "k803", 4));
    EXPECT_EQ(qv_hmap_find(map, "k803", 4), nullptr);
    EXPECT_EQ(qv_hmap_find(map, "k815", 4)->value, &b);
    qv_hmap_free(map);
}

// Keys are told apart by all their bytes. These two share their chain hash
// and differ in their first byte only. (Keys that differ only in their last
// byte never share a chain hash: its last step is one-to-one in that byte, so
// the hash already tells them apart.)
TEST(HashMap, CollidingKeysThatDifferInOneByteOnlyStayDistinct)
{
    ASSERT_EQ(qv_h2("Oce", 3), qv_h2("Sce", 3));
    qv_hmap *map = qv_hmap_create(1);
    int a = 1, b = 2;
    ASSERT_EQ(qv_hmap_insert(map, "Oce", 3, &a), 0);
    EXPECT_EQ(qv_hmap_find(map, "Sce", 3), nullptr);
    ASSERT_EQ(qv_hmap_insert(map, "Sce", 3, &b), 0);
    EXPECT_EQ(qv_hmap_find(map, "Oce", 3)->value, &a);
    EXPECT_EQ(qv_hmap_find(map, "Sce", 3)->value, &b);
    qv_hmap_remove(map, qv_hmap_find(map, "Sce", 3));
    EXPECT_EQ(qv_hmap_find(map, "Oce", 3)->value, &a);
    qv_hmap_free(map);
}

TEST(HashMap, KeepsInsertionOrderAndBinaryKeys)
{
    qv_hmap *map = qv_hmap_create(7);
    int values[50];
    for (int i = 0; i < 50; i++) {
        uint32_t key[2] = { static_cast<uint32_t>(i), 0 };
        ASSERT_EQ(qv_hmap_insert(map, key, sizeof key, &values[i]), 0);
    }
    EXPECT_EQ(map->count, 50u);
    int i = 0;
    for (qv_hmap_entry *e = map->head; e; e = e->next, i++)
        EXPECT_EQ(e->value, &values[i]);
    uint32_t key[2] = { 17, 0 };
    qv_hmap_remove(map, qv_hmap_find(map, key, sizeof key));
    EXPECT_EQ(map->count, 49u);
    EXPECT_EQ(qv_hmap_find(map, key, sizeof key), nullptr);
    uint32_t empty = 0;
    EXPECT_EQ(qv_hmap_insert(map, &empty, 0, &values[0]), 0);
    EXPECT_NE(qv_hmap_find(map, &empty, 0), nullptr);
    qv_hmap_free(map);
}

TEST(List, FifoOrderAndUnlink)
{
    qv_list list;
    qv_list_init(&list);
    int v[3];
    qv_list_push(&list, &v[0]);
    qv_list_node *mid = qv_list_push(&list, &v[1]);
    qv_list_push(&list, &v[2]);
    EXPECT_EQ(qv_list_unlink(&list, mid), 0);
    EXPECT_EQ(list.count, 2u);
    EXPECT_EQ(qv_list_pop(&list), &v[0]);
    EXPECT_EQ(qv_list_pop(&list), &v[2]);
    EXPECT_EQ(qv_list_pop(&list), nullptr);
    EXPECT_EQ(qv_list_unlink(&list, nullptr), 1);
    EXPECT_EQ(qv_list_unlink(nullptr, nullptr), 1);
}

TEST(TaggedValue, CopiesTextsAndBytesIntoNewMemory)
{
    qv_value a{}, b{};
    qv_value_set_text(&a, nullptr);
    ASSERT_EQ(qv_value_type(&a), QV_VAL_TEXT);
    ASSERT_NE(a.v.text, nullptr);
    EXPECT_STREQ(a.v.text, "");
    qv_value_set_text(&a, "camera");
    EXPECT_EQ(qv_value_len(&a), 6u);
    ASSERT_EQ(qv_value_copy(&b, &a), 0);
    EXPECT_NE(b.v.text, a.v.text);
    EXPECT_STREQ(b.v.text, "camera");
    qv_value_clear(&a);
    qv_value_clear(&b);
}

TEST(Text, BoundedCopiesAndFormatting)
{
    char small[5];
    qv_strlcpy(small, "overlong text", sizeof small);
    EXPECT_STREQ(small, "over");
    EXPECT_EQ(qv_snprintf(small, sizeof small, "%s", "toolong"), -1);
    EXPECT_EQ(qv_snprintf(small, sizeof small, "%d", 42), 2);
    const char hay[] = "HTTP/1.1 200 OK\r\n\r\nbody";
    EXPECT_EQ(qv_memfind(hay, sizeof hay - 1, "\r\n\r\n", 4), reinterpret_cast<const uint8_t *>(hay) + 15);
    EXPECT_EQ(qv_memfind(hay, 3, "HTTP", 4), nullptr);
    EXPECT_TRUE(qv_strieq("Upgrade", "upgrade"));
    EXPECT_FALSE(qv_strieq("upgrade", "upgrades"));
}

static void count_until_stopped(void *data, volatile int *run)
{
    auto *n = static_cast<std::atomic<int> *>(data);
    while (qv_running(run)) {
        (*n)++;
        pf_sleep_ms(1);
    }
}

TEST(Threads, StartSetsTheFlagAndStopJoins)
{
    std::atomic<int> n{0};
    volatile int run = 0;
    qv_thread *t = qv_thread_start(count_until_stopped, &n, &run, "a name longer than thirty-two characters");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(run, 1);
    EXPECT_EQ(strlen(t->name), 32u);
    while (n.load() < 3)
        pf_sleep_ms(1);
    qv_thread_stop(t);
    EXPECT_EQ(run, 0);
}

TEST(Portable, TickDifferencesSurviveTheWrap)
{
    EXPECT_EQ(pf_tick_diff(5, 0xFFFFFFFBu), 10u);
    EXPECT_EQ(pf_tick_diff(0xFFFFFFFBu, 5), 10u);
    EXPECT_EQ(pf_tick_diff(1000, 400), 600u);
    uint64_t a = pf_clock_ms();
    pf_sleep_ms(20);
    EXPECT_GE(pf_clock_ms() - a, 19u);
}

TEST(Portable, RecursiveMutexAndTryLock)
{
    pf_mutex m;
    ASSERT_EQ(pf_mutex_init(&m), 0);
    pf_mutex_lock(&m);
    EXPECT_EQ(pf_mutex_trylock(&m), 0); // same thread: recursive
    std::atomic<int> other{-1};
    std::thread t([&] { other = pf_mutex_trylock(&m); });
    t.join();
    EXPECT_NE(other.load(), 0);
    pf_mutex_unlock(&m);
    pf_mutex_unlock(&m);
    pf_mutex_destroy(&m);
}

TEST(Objects, StaleObjectsAreNotLive)
{
    qv_obj *obj = qv_obj_buf_new(qv_buf_new(16));
    ASSERT_NE(obj, nullptr);
    EXPECT_FALSE(qv_live_contains(obj));
    qv_live_add(obj);
    EXPECT_TRUE(qv_live_contains(obj));
    void *stale = obj;
    qv_obj_release(obj);
    EXPECT_FALSE(qv_live_contains(stale));
}
