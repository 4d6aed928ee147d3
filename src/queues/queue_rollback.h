// Puts the product's queues back on the PPDs that the last update saved.
#pragma once

// Every queue of the scheduler's PPD directory whose PPD names a product model
// and that has a saved PPD (QUEUE.ppd.rpmsave) gets that PPD back, written
// whole in place of its current one; asked queue by queue when askFlag is set.
// In a dry run only what would be done is told. The number of queues put back.
int rollbackQueues(int askFlag);
