// An observer that records what a run shows and lets a test change the option or stop mid-run.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "conversion/conversion_run.h"

namespace tarvelin::testing {

class RecordingObserver : public RunObserver {
public:
    NamingOption option = NamingOption::OptOriginal;
    std::vector<float> bar;
    std::vector<std::string> captions;
    std::map<std::string, std::string> outputs;  // source -> output
    std::map<std::string, int> timesConverted;   // source -> how many outputs it got
    int stopAfterMessages = -1;
    std::map<int, NamingOption> optionFromMessage;  // message index -> option chosen then
    std::vector<std::string> notices;

    NamingOption SelectedNamingOption() override {
        if (auto it = optionFromMessage.find(static_cast<int>(bar.size())); it != optionFromMessage.end())
            option = it->second;
        return option;
    }
    void ShowProgress(float value, const std::string &caption) override {
        bar.push_back(value);
        captions.push_back(caption);
    }
    void MessageWritten(const std::string &source, const std::string &output, std::size_t, const MessageFacts &) override {
        outputs[source] = output;
        ++timesConverted[source];
    }
    void Notice(const std::string &text) override { notices.push_back(text); }
    bool StopRequested() const override {
        return stopAfterMessages >= 0 && static_cast<int>(bar.size()) >= stopAfterMessages;
    }
};

}  // namespace tarvelin::testing
