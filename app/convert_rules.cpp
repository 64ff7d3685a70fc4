#include "app/convert_rules.h"

namespace tarvelin {

bool ConvertEnabledAfter(ListEvent event, bool enabledBefore) {
    switch (event) {
    case ListEvent::StartUp:
    case ListEvent::ClearClicked:
    case ListEvent::FolderScanAddedNone:
        return false;
    case ListEvent::FileDialogReturnedSelection:
    case ListEvent::FolderScanAddedFiles:
        return true;
    case ListEvent::FileDialogCancelled:
    case ListEvent::FolderBrowserCancelled:
    case ListEvent::ConversionRun:
        return enabledBefore;
    }
    return enabledBefore;
}

}  // namespace tarvelin
