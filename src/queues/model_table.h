// The printer models of the product, in lookup order.
#pragma once

struct ModelEntry {
  const char* modelName;
  int modelId;
};

extern const ModelEntry kModelTable[];
extern const int kModelTableSize;
