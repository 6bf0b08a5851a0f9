/* The anchor of the message benchmark: a plain mutex + condition-variable
 * queue between two threads, carrying the same jobs a worker gets. */
#ifndef PLAIN_QUEUE_H
#define PLAIN_QUEUE_H

#ifdef __cplusplus
extern "C" {
#endif

/* Sends n jobs of the three texts from a producer thread to a consumer
 * thread; returns the seconds from the first post until the consumer has
 * taken and freed the last job. */
double plain_queue_run(int n, const char *s1, const char *s2, const char *s3);

#ifdef __cplusplus
}
#endif

#endif
