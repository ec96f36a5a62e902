#include "replaygainchoice.h"

#include "settings.h"

namespace kes
{

namespace
{

const QString kSection = QStringLiteral("その他設定");

struct Key {
    const char *name;
    int ReplayGainChoice::*number; // or, when null, preventClip
    int low, high;
};
constexpr Key kKeys[] = {
    { "ReplayGainMode", &ReplayGainChoice::mode, 0, 2 },
    { "ReplayGainPreamp", &ReplayGainChoice::preampTenths, -150, 150 },
    { "ReplayGainDefault", &ReplayGainChoice::defaultTenths, -150, 150 },
    { "ReplayGainPreventClip", nullptr, 0, 1 },
};

int valueOf(const ReplayGainChoice &c, const Key &k)
{
    return k.number ? c.*k.number : (c.preventClip ? 1 : 0);
}

} // namespace

ReplayGainChoice storedReplayGain(const QString &iniPath)
{
    ReplayGainChoice choice;
    for (const Key &k : kKeys) {
        bool ok = false;
        const int n = ReadIni(kSection, QString::fromLatin1(k.name), QString(), iniPath).trimmed().toInt(&ok);
        if (!ok || n < k.low || n > k.high)
            continue;
        if (k.number)
            choice.*k.number = n;
        else
            choice.preventClip = n == 1;
    }
    return choice;
}

std::vector<IniEdit> replayGainEdits(const QString &iniPath, const ReplayGainChoice &choice)
{
    const ReplayGainChoice stored = storedReplayGain(iniPath);
    std::vector<IniEdit> edits;
    for (const Key &k : kKeys)
        if (valueOf(choice, k) != valueOf(stored, k))
            edits.push_back({ kSection, QString::fromLatin1(k.name), QString::number(valueOf(choice, k)) });
    return edits;
}

bool applyReplayGain(const DecoderApi &api, const ReplayGainChoice &choice)
{
    const ReplayGainOption option { choice.mode, choice.preampTenths, choice.defaultTenths,
        choice.preventClip ? 1 : 0 };
    return api.setReplayGain(&option) == 1;
}

} // namespace kes
