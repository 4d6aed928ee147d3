// Puts the product's queues back on the PPDs that the product saved.
#pragma once

// Every queue of the scheduler's PPD directory whose PPD names a product model
// and that has a saved PPD (QUEUE.ppd.rpmsave) gets that PPD back, written
// whole in place of its current one, which is kept as the saved PPD in its
// turn (so a second rollback undoes the first). A saved PPD is used only
// when it is root's regular file, the record holds its check sum for that
// queue and libcups reads it; any other queue is left as it is, with a line.
// Asked queue by queue when askFlag is set. The number of queues put back.
int rollbackQueues(int askFlag);
