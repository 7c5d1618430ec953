#include "openfilters.h"

#include <QString>

namespace {

struct Filter
{
    const char *description;
    const char *patterns; // separated by ";"
};

// Two patterns of the historical list read "*,3g" and "*,3gp2"; they are the extensions
// ".3g" and ".3gp2" and are written so here.
const char kVideoPatterns[]
    = "*.3gp;*.3g2;*.3gpp;*.3g;*.k3g;*.3gp2;*.amv;*.avi;*.flv;*.f4v;*.mkv;*.mpg;*.mpeg;*.mpe;"
      "*.m1v;*.m2v;*.m2t;*.tod;*.mp4;*.m4v;*.rm;*.rmvb;*.mov;*.qt;*.dat;*.vob;*.wmv;*.asf;"
      "*.webm;*.dpg;*.dv";
const char kAudioPatterns[]
    = "*.mp2;*.mp3;*.wma;*.wav;*.ogg;*.aac;*.ac3;*.aif;*.aiff;*.flac;*.m4a;*.ra;*.ape;*.mmf;"
      "*.m4r;*.wv";

} // namespace

QStringList MediaOpenFilters()
{
    const QString all = QString::fromLatin1(kVideoPatterns) + QLatin1Char(';')
        + QString::fromLatin1(kAudioPatterns);
    const Filter filters[] = {
        { "All Supported Media Files", nullptr },
        { "All Supported Audio Files", kAudioPatterns },
        { "All Supported Video Files", kVideoPatterns },
        { "Audio - Advanced Audio Coding Files (*.aac)", "*.aac" },
        { "Audio - Audio InterChange File Format (*.aif;*.aiff)", "*.aif;*.aiff" },
        { "Audio - Audio Coding 3 (*.ac3)", "*.ac3" },
        { "Audio - Free Lossless Audio Codec (*.flac)", "*.flac" },
        { "Audio - Monkey's Audio (*.ape)", "*.ape" },
        { "Audio - MPEG Layer-2 Audio (*.mp2)", "*.mp2" },
        { "Audio - MPEG Layer-3 Audio (*.mp3)", "*.mp3" },
        { "Audio - MPEG-4 Audio (*.m4a,*.m4r)", "*.m4a;*.m4r" },
        { "Audio - Ogg Vorbis Audio (*.ogg)", "*.ogg" },
        { "Audio - Real Audio (*.ra)", "*.ra" },
        { "Audio - Waveform Audio (*.wav)", "*.wav" },
        { "Audio - Windows Media Audio (*.wma)", "*.wma" },
        { "Audio - WavPack Audio (*.wv)", "*.wv" },
        { "Audio - Yamaha Synthetic Music Mobile Application Format (*.mmf)", "*.mmf" },
        { "Video - 3GPP files(*.3gp,*.3g2,*.3gpp;*.3g,*.k3g,*.3gp2)",
          "*.3gp;*.3g2;*.3gpp;*.3g;*.k3g;*.3gp2" },
        { "Video - AMV files (*.amv)", "*.amv" },
        { "Video - AVI Files (*.avi)", "*.avi" },
        { "Video - Digital Video Files (*.dv)", "*.dv" },
        { "Video - DVD Video Files (*.vob)", "*.vob" },
        { "Video - Flash Video (*.flv,*.f4v)", "*.flv;*.f4v" },
        { "Video - Matroska Video (*.mkv)", "*.mkv" },
        { "Video - MPEG Files (*.mpg,*.mpeg,*.mpe,*.m1v,*.m2v,*.m2t,*.tod)",
          "*.mpg;*.mpeg;*.mpe;*.m1v;*.m2v;*.m2t;*.tod" },
        { "Video - MPEG-4 files(*.mp4,*.m4v)", "*.mp4;*.m4v" },
        { "Video - NDS DPG Files (*.dpg)", "*.dpg" },
        { "Video - QuickTime Files (*.mov,*.qt)", "*.mov;*.qt" },
        { "Video - RealMedia file (*.rm,*.rmvb)", "*.rm;*.rmvb" },
        { "Video - VCD Movie Files (*.dat)", "*.dat" },
        { "Video - WebM Video Files (*.webm)", "*.webm" },
        { "Video - Windows Media Video Files (*.wmv,*.asf)", "*.wmv;*.asf" },
        { "All Files (*.*)", "*" }, // "*.*" would hide files without an extension here
    };
    QStringList list;
    for (const Filter &f : filters) {
        const QString patterns = f.patterns ? QString::fromLatin1(f.patterns) : all;
        // Qt reads the patterns from the last parentheses, separated by blanks; the dialog
        // hides that part (HideNameFilterDetails), so the description shows as written.
        list << QStringLiteral("%1 (%2)").arg(
            QString::fromLatin1(f.description),
            QString(patterns).replace(QLatin1Char(';'), QLatin1Char(' ')));
    }
    return list;
}
