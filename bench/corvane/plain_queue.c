/*
 * A plain mutex + condition-variable queue in C: each job is one allocation
 * holding three copied texts and a pointer, appended by the producer under
 * the lock, one job per hold. The consumer takes every job queued so far in
 * one hold of the lock, as a corvane worker does, and then runs and frees
 * them; it waits on the condition variable only while the queue is empty,
 * and the producer signals only when it is waiting.
 */
#include "plain_queue.h"

#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

typedef struct job {
    struct job *next;
    void *ud;
    size_t len[3];
    char *text[3];
} job;

typedef struct queue {
    pthread_mutex_t lock;
    pthread_cond_t ready;
    job *head, *tail;
    int waiting;
    int n;
    const char *text[3];
} queue;

static job *job_new(const char *const text[3], void *ud)
{
    size_t len[3], total = sizeof(job);
    job *j;
    char *p;
    int i;
    for (i = 0; i < 3; i++) {
        len[i] = strlen(text[i]);
        total += len[i] + 1;
    }
    j = (job *)malloc(total);
    if (!j)
        abort();
    j->next = NULL;
    j->ud = ud;
    p = (char *)(j + 1);
    for (i = 0; i < 3; i++) {
        j->len[i] = len[i];
        j->text[i] = p;
        memcpy(p, text[i], len[i] + 1);
        p += len[i] + 1;
    }
    return j;
}

static void *produce(void *arg)
{
    queue *q = (queue *)arg;
    int i;
    for (i = 0; i < q->n; i++) {
        job *j = job_new(q->text, NULL);
        pthread_mutex_lock(&q->lock);
        if (q->tail)
            q->tail->next = j;
        else
            q->head = j;
        q->tail = j;
        if (q->waiting) {
            q->waiting = 0;
            pthread_cond_signal(&q->ready);
        }
        pthread_mutex_unlock(&q->lock);
    }
    return NULL;
}

static double now_s(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

double plain_queue_run(int n, const char *s1, const char *s2, const char *s3)
{
    queue q;
    pthread_t producer;
    volatile size_t bytes = 0;
    double t0;
    int taken = 0;
    memset(&q, 0, sizeof q);
    pthread_mutex_init(&q.lock, NULL);
    pthread_cond_init(&q.ready, NULL);
    q.n = n;
    q.text[0] = s1;
    q.text[1] = s2;
    q.text[2] = s3;
    t0 = now_s();
    pthread_create(&producer, NULL, produce, &q);
    while (taken < n) {
        job *batch;
        pthread_mutex_lock(&q.lock);
        while (!q.head) {
            q.waiting = 1;
            pthread_cond_wait(&q.ready, &q.lock);
        }
        batch = q.head;
        q.head = q.tail = NULL;
        pthread_mutex_unlock(&q.lock);
        while (batch) {
            job *j = batch;
            batch = j->next;
            bytes += j->len[0] + j->len[1] + j->len[2];
            free(j);
            taken++;
        }
    }
    t0 = now_s() - t0;
    pthread_join(producer, NULL);
    pthread_cond_destroy(&q.ready);
    pthread_mutex_destroy(&q.lock);
    return t0;
}
