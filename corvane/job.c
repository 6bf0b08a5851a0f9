/*
 * Jobs: three texts and a carried pointer, queued first in, first out. The
 * same record serves the workers' queues and the named queues.
 */
#include "corvane_int.h"

#include <stdlib.h>
#include <string.h>

cv_job *cv_job_new(const char *const text[3], const size_t len[3], void *ud)
{
    size_t total = sizeof(cv_job);
    cv_job *job;
    char *p;
    int i;
    for (i = 0; i < 3; i++) {
        if (len[i] > SIZE_MAX / 2 - total)
            return NULL;
        total += len[i] + 1;
    }
    job = (cv_job *)malloc(total);
    if (!job)
        return NULL;
    job->next = NULL;
    job->ud = ud;
    p = (char *)(job + 1);
    for (i = 0; i < 3; i++) {
        job->len[i] = len[i];
        job->text[i] = p;
        if (len[i])
            memcpy(p, text[i], len[i]);
        p[len[i]] = 0;
        p += len[i] + 1;
    }
    return job;
}

void cv_job_free(cv_job *job)
{
    free(job);
}

void cv_job_push(lua_State *L, const cv_job *job)
{
    lua_pushlstring(L, job->text[0], job->len[0]);
    lua_pushlstring(L, job->text[1], job->len[1]);
    lua_pushlstring(L, job->text[2], job->len[2]);
    lua_pushlightuserdata(L, job->ud);
}

cv_job *cv_job_from_args(lua_State *L, int first)
{
    const char *text[3];
    size_t len[3];
    void *ud;
    int i;
    for (i = 0; i < 3; i++)
        text[i] = luaL_checklstring(L, first + i, &len[i]);
    ud = lua_type(L, first + 3) == LUA_TLIGHTUSERDATA ? lua_touserdata(L, first + 3) : NULL;
    return cv_job_new(text, len, ud);
}

void cv_fifo_push(cv_fifo *fifo, cv_job *job)
{
    job->next = NULL;
    if (fifo->tail)
        fifo->tail->next = job;
    else
        fifo->head = job;
    fifo->tail = job;
    fifo->count++;
}

cv_job *cv_fifo_pop(cv_fifo *fifo)
{
    cv_job *job = fifo->head;
    if (!job)
        return NULL;
    fifo->head = job->next;
    if (!fifo->head)
        fifo->tail = NULL;
    fifo->count--;
    job->next = NULL;
    return job;
}

void cv_fifo_clear(cv_fifo *fifo)
{
    cv_job *job;
    while ((job = cv_fifo_pop(fifo)) != NULL)
        cv_job_free(job);
}
