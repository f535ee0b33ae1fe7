/*
 * printDouble.h - control of the print-submission client's test double.
 *
 * Records the nine arguments of every SubmitJob call and whether the document existed then, and
 * answers the programmed status (default DS_OK). The document is left where it is.
 */
#ifndef TESTS_DOUBLES_PRINTDOUBLE_H
#define TESTS_DOUBLES_PRINTDOUBLE_H

#include "print.h"

#include <cstdint>
#include <string>
#include <vector>

namespace printDouble {

struct Submission {
    std::vector<std::string> attributes;
    std::string user, jobName, path;
    Ds_precedence precedence;
    std::string operation;
    int32_t firstPage, lastPage;
    uint16_t options;
    bool documentExisted;
};

void Reset();
void SetResult(int result);
const std::vector<Submission> &Submissions();

} // namespace printDouble

#endif
