// The printer models of the product, in lookup order (data/models.tsv).
#pragma once

#include <string_view>

struct ModelEntry {
  const char* modelName;
  int modelId;
};

extern const ModelEntry kModelTable[];
extern const int kModelTableSize;

// The first row whose name occurs anywhere in the text; null when none does.
const ModelEntry* findModelEntry(std::string_view text);
