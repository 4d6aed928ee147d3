// The product's print queues: found on the host, or named in the information file.
#pragma once

#include "queues/queue_list.h"

// Appends a record at the tail of the list; ends the process when there is no list.
void addPList(QueueList* list, const QueueRecord& record);
int freeQueueList(QueueList* list);
int clearQueueList(QueueList* list);
// Fills the list with the product's queues of the CUPS PPD directory; 1 when any.
int scanQueuePpds(QueueList& list, int& count);
// Replaces the list by the printers block of the information file; 1 when found.
int readInfoPrinters(int kind, QueueList& list);
