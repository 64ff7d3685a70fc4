// When the Convert button is enabled: the one place that decides it.
#pragma once

namespace tarvelin {

enum class ListEvent {
    StartUp,
    ClearClicked,                 // any answer, also on an empty list
    FileDialogReturnedSelection,
    FileDialogCancelled,          // also when the dialog failed
    FolderScanAddedFiles,
    FolderScanAddedNone,
    FolderBrowserCancelled,
    ConversionRun,
};

bool ConvertEnabledAfter(ListEvent event, bool enabledBefore);

}  // namespace tarvelin
