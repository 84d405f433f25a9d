// test_class_labels_file(output): one line, the number of labels and then the class
// labels of the mining part and of the test part, each followed by a blank.
#pragma once

#include <string>

#include "minerio/mining_stats.h"
#include "testpart/test_part.h"

// Writes every training label, then the test labels.
void write_test_class_labels(const std::string& output_name, const TrainingClassLabels& training,
                             const ClassLabels& test);
