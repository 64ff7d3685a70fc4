// The listing itself is each half's (posix/, windows/directory_lister.cpp).
#include "platform/directory_lister.h"

namespace tarvelin {

const DirectoryLister &NativeDirectoryLister() {
    static const DirectoryLister lister;
    return lister;
}

}  // namespace tarvelin
