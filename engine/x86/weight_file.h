// Replacing the embedded weights with a weight file of the same format (for
// evaluating other checkpoints without rebuilding).
#pragma once

#include <string>
#include <vector>

namespace TAVROMATTING {

class Net;

// Reads `path` (float32 LE, every weight of the built-in model in record
// order, each zero-padded to a multiple of 16 floats) into `storage` and
// points the network's weight tensors at it. Call before the first run.
// Returns false (and prints why) when the file is missing or has the wrong
// size; the network then keeps its weights.
bool BindWeightFile(Net* net, const std::string& path, std::vector<float>* storage);

}  // namespace TAVROMATTING
