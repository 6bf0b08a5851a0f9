/*
 * FIFO list: append at the tail, take from the head.
 */
#include "qv_core.h"

#include <stdlib.h>

void qv_list_init(qv_list *list)
{
    list->count = 0;
    list->tail = NULL;
    list->head = NULL;
}

qv_list_node *qv_list_push(qv_list *list, void *value)
{
    qv_list_node *node = (qv_list_node *)malloc(sizeof *node);
    if (!node)
        return NULL;
    node->value = value;
    node->next = NULL;
    node->prev = list->tail;
    if (list->tail)
        list->tail->next = node;
    else
        list->head = node;
    list->tail = node;
    list->count++;
    return node;
}

int qv_list_unlink(qv_list *list, qv_list_node *node)
{
    if (!list || !node || list->count == 0)
        return 1;
    if (node->prev)
        node->prev->next = node->next;
    else
        list->head = node->next;
    if (node->next)
        node->next->prev = node->prev;
    else
        list->tail = node->prev;
    list->count--;
    free(node);
    return 0;
}

void *qv_list_pop(qv_list *list)
{
    void *value;
    if (!list->head)
        return NULL;
    value = list->head->value;
    qv_list_unlink(list, list->head);
    return value;
}

void qv_list_clear(qv_list *list, void (*free_value)(void *))
{
    while (list->head) {
        void *value = qv_list_pop(list);
        if (free_value)
            free_value(value);
    }
}
