#include "record/channel_selection.hpp"

#include <algorithm>

#include "base/error.hpp"
#include "base/format.hpp"

namespace quorel {

namespace {

bool below(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
    const char next = name[prefix.size()];
    return next == '/' || next == '.' || prefix.back() == '/';
}

bool all_digits(const std::string& text) {
    return !text.empty() && text.size() <= 9 && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "a, b, c" of the first dozen names, then how many more.
std::string listed(const std::vector<std::string>& names) {
    std::string text;
    const size_t shown = std::min<size_t>(names.size(), 12);
    for (size_t i = 0; i < shown; ++i) text += (i == 0 ? "" : ", ") + shown_name(names[i]);
    if (names.size() > shown) text += format(" and %zu more", names.size() - shown);
    return text;
}

std::vector<std::string> group_names(const ChannelListing& listing, const std::vector<size_t>& kept) {
    std::vector<std::string> groups;
    for (const size_t i : kept) {
        const std::string& g = listing.channels[i].group;
        if (std::find(groups.begin(), groups.end(), g) == groups.end()) groups.push_back(g);
    }
    return groups;
}

const NotARecord* other_named(const ChannelListing& listing, const std::string& name) {
    for (const NotARecord& other : listing.others) {
        if (other.name == name) return &other;
    }
    return nullptr;
}

}  // namespace

void refuse_record(const std::string& file, const std::string& what) {
    throw QuorelError(format("\n Error: %s %s \n", file.c_str(), what.c_str()));
}

std::string shown_name(const std::string& name) {
    std::string shown = name.substr(0, 60);
    for (char& c : shown) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    if (name.size() > 60) shown += "...";
    return "'" + shown + "'";
}

std::vector<size_t> select_channels(const std::string& file, const ChannelListing& listing, const std::string& selector,
                                    const std::vector<std::string>& requested, DefaultChannels by_default) {
    const std::string kinds = std::string(listing.kind) + "s";
    std::vector<size_t> kept;
    for (size_t i = 0; i < listing.channels.size(); ++i) {
        const ChannelEntry& c = listing.channels[i];
        if (selector.empty() || c.name == selector || c.group == selector || below(c.name, selector)) kept.push_back(i);
    }
    std::vector<std::string> all_names;
    for (const ChannelEntry& c : listing.channels) all_names.push_back(c.name);
    if (kept.empty()) {
        if (!selector.empty()) {
            if (const NotARecord* other = other_named(listing, selector)) {
                refuse_record(file, format("%s %s %s: not a record", listing.kind, shown_name(selector).c_str(),
                                           other->why.c_str()));
            }
            refuse_record(file, format("has no %s %s (its %s: %s)", listing.kind, shown_name(selector).c_str(),
                                       kinds.c_str(), all_names.empty() ? "none" : listed(all_names).c_str()));
        }
        std::string why;
        for (size_t i = 0; i < listing.others.size() && i < 6; ++i) {
            why += format("%s%s %s", i == 0 ? "; " : ", ", shown_name(listing.others[i].name).c_str(),
                          listing.others[i].why.c_str());
        }
        refuse_record(file, format("holds no %s that is a record (numbers, real, at least 2 samples)%s", listing.kind,
                                   why.c_str()));
    }

    std::vector<bool> chosen(listing.channels.size(), false);
    if (requested.empty()) {
        const std::vector<std::string> groups = group_names(listing, kept);
        if (by_default == DefaultChannels::one_group && groups.size() > 1) {
            refuse_record(file, format("holds %zu %s that could be records (%s): choose with --channel (a name, a "
                                       "number or all)",
                                       groups.size(), kinds.c_str(), listed(groups).c_str()));
        }
        for (const size_t i : kept) chosen[i] = true;
    }
    for (const std::string& wanted : requested) {
        if (wanted == "all") {
            for (const size_t i : kept) chosen[i] = true;
            continue;
        }
        bool found = false;
        for (const size_t i : kept) {
            if (listing.channels[i].name == wanted || listing.channels[i].group == wanted) chosen[i] = found = true;
        }
        if (found) continue;
        if (all_digits(wanted)) {
            const size_t number = std::stoul(wanted);
            if (number < 1 || number > kept.size()) {
                refuse_record(file, format("has no %s %zu: it holds %zu (%s)", listing.kind, number, kept.size(),
                                           listed(group_names(listing, kept)).c_str()));
            }
            chosen[kept[number - 1]] = true;
            continue;
        }
        if (const NotARecord* other = other_named(listing, wanted)) {
            refuse_record(file, format("%s %s %s: not a record", listing.kind, shown_name(wanted).c_str(), other->why.c_str()));
        }
        std::vector<std::string> names;
        for (const size_t i : kept) names.push_back(listing.channels[i].name);
        refuse_record(file, format("has no %s %s (its %s: %s)", listing.kind, shown_name(wanted).c_str(), kinds.c_str(),
                                   listed(names).c_str()));
    }
    std::vector<size_t> out;
    for (size_t i = 0; i < chosen.size(); ++i) {
        if (chosen[i]) out.push_back(i);
    }
    return out;
}

}  // namespace quorel
