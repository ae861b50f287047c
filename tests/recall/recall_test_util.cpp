#include "recall_test_util.h"

std::vector<KeyBatch> RecordedBatches;

UINT WINAPI RecordSendInput(UINT count, LPINPUT inputs, int size)
{
    KeyBatch batch;
    batch.inputs.assign(inputs, inputs + count);
    batch.sizeArgument = size;
    RecordedBatches.push_back(batch);
    return count;
}
