#include "ZipTestSupport.h"

namespace ziptest {

// The writer's own reading of the archive only: the outside tools are Linux
// programs (see OutsideTools.h for what checks the Windows archives instead).
::testing::AssertionResult PassesEverything(const std::string& path, Archive& archive,
                                            bool /*uniqueNames*/) {
    return WellFormed(path, archive);
}

} // namespace ziptest
