#include "platform/BatchReport.h"

namespace tarvo {

bool WriteBatchReport(const BatchReportInfo&, const std::string& path, std::string& error)
{
    error = "cannot write " + path + ": the batch's report is not made yet";
    return false;
}

}  // namespace tarvo
