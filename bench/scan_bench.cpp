// Scans one folder into a message list and prints how many files were added and how long it took.
#include <chrono>
#include <cstdio>
#include <string>

#include "messagelist/folder_scan.h"
#include "messagelist/message_list.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    tarvelin::MessageList list;
    const auto start = std::chrono::steady_clock::now();
    const tarvelin::FolderScanResult result = tarvelin::ScanFolderIntoList(argv[1], list);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("%lld files added, %lld folders not read, %.4f s\n",
                static_cast<long long>(result.added), static_cast<long long>(result.FoldersNotRead()),
                elapsed.count());
    return 0;
}
