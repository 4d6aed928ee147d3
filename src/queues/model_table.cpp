#include "queues/model_table.h"

const ModelEntry* findModelEntry(std::string_view text) {
  for (int row = 0; row < kModelTableSize; ++row) {
    if (text.find(kModelTable[row].modelName) != std::string_view::npos) return &kModelTable[row];
  }
  return nullptr;
}
