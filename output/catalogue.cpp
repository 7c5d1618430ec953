#include "catalogue.h"

#include <algorithm>

namespace {

// The general formats and the device families.
constexpr int kAudio = Catalogue::AudioSubmenuId;
constexpr int kVideo = Catalogue::VideoSubmenuId;
constexpr int kAndroid = 1081;
constexpr int kAndroidPad = 1094;
constexpr int kAppleTv = 1072;
constexpr int kIpad = 1076;
constexpr int kIphone = 1054;
constexpr int kIpod = 1060;
constexpr int kBlackBerry = 1099;
constexpr int kHdVideo = 1154;
constexpr int kPmp = 1139;
constexpr int kPs3 = 1123;
constexpr int kPsp = 1118;
constexpr int kDiscs = 1178;
constexpr int kWebVideo = 1164;
constexpr int kWindowsPhone = 1114;
constexpr int kXbox = 1130;

const CatalogueSubmenu kSubmenus[] = {
    { kAudio, "General Audio Format", 0 },
    { kVideo, "General Video Format", 0 },
    { Catalogue::DeviceSubmenuId, "Device", 0 },
    { kAndroid, "Android", Catalogue::DeviceSubmenuId },
    { kAndroidPad, "Android Pad", Catalogue::DeviceSubmenuId },
    { kAppleTv, "Apple TV", Catalogue::DeviceSubmenuId },
    { kIpad, "iPad", Catalogue::DeviceSubmenuId },
    { kIphone, "iPhone", Catalogue::DeviceSubmenuId },
    { kIpod, "iPod", Catalogue::DeviceSubmenuId },
    { kBlackBerry, "BlackBerry", Catalogue::DeviceSubmenuId },
    { kHdVideo, "HD Video", Catalogue::DeviceSubmenuId },
    { kPmp, "PMP", Catalogue::DeviceSubmenuId },
    { kPs3, "PS3", Catalogue::DeviceSubmenuId },
    { kPsp, "PSP", Catalogue::DeviceSubmenuId },
    { kDiscs, "VCD/DVD", Catalogue::DeviceSubmenuId },
    { kWebVideo, "Web Video", Catalogue::DeviceSubmenuId },
    { kWindowsPhone, "Windows Phone", Catalogue::DeviceSubmenuId },
    { kXbox, "Xbox", Catalogue::DeviceSubmenuId },
};

// What an entry presets; nullptr where it presets nothing. Width and height come together.
struct Presets
{
    const char *width = nullptr;
    const char *height = nullptr;
    const char *frameRate = nullptr;
    const char *audioBitrate = nullptr;
    const char *channels = nullptr;
};

// An entry of a submenu; the entries of General Audio Format are the audio-only ones.
constexpr CatalogueEntry entry(int submenu, int id, const char *symbol, const char *caption,
                               const char *formatKey, Presets presets = {})
{
    return { id,
             symbol,
             caption,
             submenu,
             formatKey,
             submenu == kAudio,
             presets.width,
             presets.height,
             presets.frameRate,
             presets.audioBitrate,
             presets.channels };
}

// Within a submenu the order is the menu's, not the ids'.
const CatalogueEntry kEntries[] = {
    entry(kAudio, 1186, "ID_AAC", "AAC - Advanced Audio Coding Files (*.aac)", "aac"),
    entry(kAudio, 1188, "ID_AC", "AC3 - Audio Coding 3 (*.ac3)", "ac3"),
    entry(kAudio, 1187, "ID_AIFF", "AIFF - Audio InterChange File Format (*.aiff)", "aiff"),
    entry(kAudio, 1189, "ID_FLAC", "FLAC - Free Lossless Audio Codec (*.flac)", "flac"),
    entry(kAudio, 1190, "ID_MA", "M4A - MPEG-4 Audio (*.m4a)", "m4a"),
    entry(kAudio, 1184, "ID_MPA", "MP2 - MPEG Layer-2 Audio (*.mp2)", "mp2"),
    entry(kAudio, 1185, "ID_MPB", "MP3 - MPEG Layer-3 Audio (*.mp3)", "mp3"),
    entry(kAudio, 1191, "ID_OGG", "OGG - Ogg Vorbis Audio (*.ogg)", "ogg"),
    entry(kAudio, 1192, "ID_RA", "RA - Real Audio (*.ra)", "ra"),
    entry(kAudio, 1193, "ID_WAV", "WAV - Waveform Audio (*.wav)", "wav"),
    entry(kAudio, 1194, "ID_WMA", "WMA - Windows Media Audio (*.wma)", "wma"),
    entry(kVideo, 1046, "ID_GP", "3GP - 3GP Format (*.3gp)", "3gp"),
    entry(kVideo, 1036, "ID_ASF", "ASF - Advanced Streaming Format (*.asf)", "asf"),
    entry(kVideo, 1045, "ID_AVI", "AVI - AVI Xvid Format (*.avi)", "avi"),
    entry(kVideo, 1029, "ID_FV", "F4V - Flash Video (*.f4v)", "f4v"),
    entry(kVideo, 1028, "ID_FLV", "FLV - Flash Video (*.flv)", "flv"),
    entry(kVideo, 1030, "ID_MKV", "MKV - Matroska Video (*.mkv)", "mkv"),
    entry(kVideo, 1034, "ID_MOV", "MOV - QuickTime Video (*.mov)", "mov"),
    entry(kVideo, 1057, "ID_MPH", "MP4 - H264 Video (*.mp4)", "mp4h264"),
    entry(kVideo, 1032, "ID_MP", "MP4 - MPEG-4 Video (*.mp4)", "mp4"),
    entry(kVideo, 1050, "ID_MPEG", "MPG - MPEG-1 Video (*.mpg)", "mpg"),
    entry(kVideo, 1177, "ID_MPEGFORMATMPGa", "MPG - MPEG-2 Video (*.mpg)", "mpg2"),
    entry(kVideo, 1052, "ID_RM", "RM - Real Video (*.rm)", "rm"),
    entry(kVideo, 1051, "ID_SWF", "SWF - Shock Wave Flash (*.swf)", "swf"),
    entry(kVideo, 1035, "ID_VOB", "VOB - DVD Video Object (*.vob)", "vob",
          { .width = "720", .height = "480" }),
    entry(kVideo, 1053, "ID_WEBM", "WebM - WebM Video (*.webm)", "webm"),
    entry(kVideo, 1037, "ID_WMV", "WMV - Windows Media Video (*.wmv)", "wmv"),
    entry(kAndroid, 1082, "ID_ANDROIDMPEGVIDEO", "Android - MPEG4 Video", "mp4",
          { .channels = "2" }),
    entry(kAndroid, 1083, "ID_ANDROIDHVIDEOXa", "Android - H264 Video 320x240", "mp4h264",
          { .width = "320", .height = "240", .audioBitrate = "96k", .channels = "2" }),
    entry(kAndroid, 1084, "ID_ANDROIDHVIDEOXb", "Android - H264 Video 480x320", "mp4h264",
          { .width = "480", .height = "320", .audioBitrate = "96k", .channels = "2" }),
    entry(kAndroid, 1085, "ID_ANDROIDHVIDEOXc", "Android - H264 Video 800x480", "mp4h264",
          { .width = "800", .height = "480", .channels = "2" }),
    entry(kAndroid, 1086, "ID_ANDROIDHVIDEOXd", "Android - H264 Video 854x480", "mp4h264",
          { .width = "854", .height = "480", .channels = "2" }),
    entry(kAndroid, 1087, "ID_HTCGMAGICMPEGVIDEO", "HTC G2 Magic - MPEG4 Video", "mp4",
          { .width = "480", .height = "320", .frameRate = "29.97", .channels = "2" }),
    entry(kAndroid, 1088, "ID_HTCHEROMPEGVIDEO", "HTC Hero - MPEG4 Video", "mp4",
          { .width = "480", .height = "320", .frameRate = "29.97", .channels = "2" }),
    entry(kAndroid, 1089, "ID_HTCTATTOOMPEGVIDEO", "HTC Tattoo - MPEG4 Video", "mp4",
          { .width = "320", .height = "240", .frameRate = "29.97", .channels = "2" }),
    entry(kAndroid, 1090, "ID_MOTOROLACLIQMPEGVIDEO", "Motorola CLIQ - MPEG4 Video", "mp4",
          { .width = "480", .height = "320", .frameRate = "23.97", .channels = "2" }),
    entry(kAndroid, 1091, "ID_MOTOROLADROIDMPEGVIDEO", "Motorola Droid - MPEG4 Video", "mp4",
          { .width = "480",
            .height = "320",
            .frameRate = "23.97",
            .audioBitrate = "160k",
            .channels = "2" }),
    entry(kAndroid, 1092, "ID_NEXUSONEMPEGVIDEO", "Nexus One - MPEG4 Video", "mp4",
          { .width = "480", .height = "320", .frameRate = "29.97", .channels = "2" }),
    entry(kAndroid, 1093, "ID_SAMSUNGIMPEGVIDEO", "Samsung i7500 - MPEG4 Video", "mp4",
          { .width = "480", .height = "320", .frameRate = "29.97", .channels = "2" }),
    entry(kAndroidPad, 1095, "ID_SAMSUNGPHVIDEO", "Samsung P1000 - H264 Video", "mp4h264",
          { .width = "1280", .height = "720", .frameRate = "29.97", .channels = "2" }),
    entry(kAndroidPad, 1096, "ID_SAMSUNGPMPEGVIDEO", "Samsung P1000 - MPEG4 Video", "mp4",
          { .width = "1280", .height = "720", .frameRate = "23.97", .channels = "2" }),
    entry(kAndroidPad, 1097, "ID_MOTOROLAXOOMHVIDEO", "Motorola Xoom - H264 Video", "mp4h264",
          { .width = "1280", .height = "720", .frameRate = "29.97", .channels = "2" }),
    entry(kAndroidPad, 1098, "ID_MOTOROLAXOOMMPEGVIDEO", "Motorola Xoom - MPEG4 Video", "mp4",
          { .width = "1280", .height = "720", .frameRate = "23.97", .channels = "2" }),
    entry(kAppleTv, 1075, "ID_APPLETVMPEGVIDEO", "Apple TV - MPEG4 Video", "mp4",
          { .width = "720", .height = "432", .frameRate = "29.97", .channels = "2" }),
    entry(kAppleTv, 1074, "ID_APPLETVHVIDEO", "Apple TV - H264 Video", "mp4h264",
          { .width = "720", .height = "480", .frameRate = "29.97", .channels = "2" }),
    entry(kAppleTv, 1073, "ID_APPLETVHHDVIDEO", "Apple TV - H264 HD Video", "mp4h264",
          { .width = "1280", .height = "720", .frameRate = "29.97", .channels = "2" }),
    entry(kIpad, 1079, "ID_IPADMPEGVIDEO", "iPad - MPEG4 Video", "mp4",
          { .width = "640", .height = "480", .frameRate = "23.97", .channels = "2" }),
    entry(kIpad, 1077, "ID_IPADHVIDEO", "iPad - H264 Video", "mp4h264",
          { .width = "720", .height = "576", .frameRate = "29.97", .channels = "2" }),
    entry(kIpad, 1078, "ID_IPADHHDVIDEO", "iPad - H264 HD Video", "mp4h264",
          { .width = "1280", .height = "720", .frameRate = "29.97", .channels = "2" }),
    entry(kIpad, 1080, "ID_IPADTwoHHDVIDEO", "iPad2 - H264 HD Video", "mp4h264",
          { .width = "1280", .height = "720", .frameRate = "29.97", .channels = "2" }),
    entry(kIphone, 1055, "ID_IPHONEHVIDEO", "iPhone - H.264 Video", "mp4h264",
          { .width = "480", .height = "320", .frameRate = "29.97", .channels = "2" }),
    entry(kIphone, 1056, "ID_IPHONEHVIDEOFORTV", "iPhone - H.264 Video for TV", "mp4h264",
          { .width = "640", .height = "480", .frameRate = "29.97", .channels = "2" }),
    entry(kIphone, 1058, "ID_IPHONEMPEGVIDEO", "iPhone - MPEG4 Video", "mp4",
          { .width = "480", .height = "320", .frameRate = "29.97", .channels = "2" }),
    entry(kIphone, 1059, "ID_IPHONEFourHVIDEO", "iPhone4 - H.264 Video", "mp4h264",
          { .width = "960", .height = "640", .frameRate = "29.97", .channels = "2" }),
    entry(kIpod, 1061, "ID_IPODHVIDEO", "iPod - H264 Video", "mp4h264",
          { .width = "320", .height = "240", .frameRate = "29.97", .channels = "2" }),
    entry(kIpod, 1063, "ID_IPODHVIDEOFORTV", "iPod - H264 Video for TV", "mp4h264",
          { .width = "640", .height = "480", .frameRate = "29.97", .channels = "2" }),
    entry(kIpod, 1062, "ID_IPODMPEGVIDEO", "iPod - MPEG4 Video", "mp4",
          { .width = "320", .height = "240", .frameRate = "29.97", .channels = "2" }),
    entry(kIpod, 1064, "ID_IPODMPEGVIDEOFORTV", "iPod - MPEG4 Video for TV", "mp4",
          { .width = "640", .height = "480", .frameRate = "29.97", .channels = "2" }),
    entry(kIpod, 1065, "ID_IPODNANOHVIDEO", "iPod Nano 5 - H264 Video", "mp4h264",
          { .width = "376", .height = "240", .frameRate = "30", .channels = "2" }),
    entry(kIpod, 1066, "ID_IPODNANOMPEGVIDEO", "iPod Nano 5 - MPEG4 Video", "mp4",
          { .width = "376", .height = "240", .frameRate = "30", .channels = "2" }),
    entry(kIpod, 1067, "ID_IPODTOUCHHVIDEO", "iPod Touch - H264 Video", "mp4h264",
          { .width = "480", .height = "320", .frameRate = "29.97", .channels = "2" }),
    entry(kIpod, 1068, "ID_IPODTOUCHHVIDEOFORTV", "iPod Touch - H264 Video for TV", "mp4h264",
          { .width = "640", .height = "480", .frameRate = "29.97", .channels = "2" }),
    entry(kIpod, 1069, "ID_IPODTOUCHMPEGVIDEO", "iPod Touch - MPEG4 Video", "mp4",
          { .width = "480", .height = "320", .frameRate = "29.97", .channels = "2" }),
    entry(kIpod, 1070, "ID_IPODTOUCHMPEGVIDEOFORTV", "iPod Touch - MPEG4 Video for TV", "mp4",
          { .width = "640", .height = "480", .frameRate = "29.97", .channels = "2" }),
    entry(kIpod, 1071, "ID_IPODTOUCHFourHVIDEO", "iPod Touch4 - H264 Video", "mp4h264",
          { .width = "960", .height = "640", .frameRate = "29.97", .channels = "2" }),
    entry(kBlackBerry, 1100, "ID_BLACKBERRYGPVIDEO", "BlackBerry - 3GP Video", "3gp",
          { .width = "352", .height = "288", .frameRate = "15" }),
    entry(kBlackBerry, 1101, "ID_BLACKBERRYMPEGVIDEO", "BlackBerry - MPEG4 Video", "mp4",
          { .width = "320",
            .height = "240",
            .frameRate = "15",
            .audioBitrate = "96k",
            .channels = "2" }),
    entry(kBlackBerry, 1102, "ID_BLACKBERRYMPEGVIDEOa",
          "BlackBerry 8800/8700/8500/8300 - MPEG4 Video", "mp4",
          { .width = "320",
            .height = "240",
            .frameRate = "25",
            .audioBitrate = "96k",
            .channels = "2" }),
    entry(kBlackBerry, 1103, "ID_BLACKBERRYBOLDHVIDEO", "BlackBerry Bold 9000 - H264 Video",
          "mp4h264",
          { .width = "480",
            .height = "320",
            .frameRate = "25",
            .audioBitrate = "96k",
            .channels = "2" }),
    entry(kBlackBerry, 1104, "ID_BLACKBERRYBOLDHVIDEOb", "BlackBerry Bold 9700 - H264 Video",
          "mp4h264",
          { .width = "480",
            .height = "360",
            .frameRate = "30",
            .audioBitrate = "96k",
            .channels = "2" }),
    entry(kBlackBerry, 1105, "ID_BLACKBERRYCHARMMPEGVIDEO", "BlackBerry Charm 7100  - MPEG4 Video",
          "mp4",
          { .width = "240",
            .height = "260",
            .frameRate = "15",
            .audioBitrate = "96k",
            .channels = "2" }),
    entry(kBlackBerry, 1106, "ID_BLACKBERRYCURVEHVIDEO", "BlackBerry Curve 8900 - H264 Video",
          "mp4h264",
          { .width = "480",
            .height = "320",
            .frameRate = "25",
            .audioBitrate = "96k",
            .channels = "2" }),
    entry(kBlackBerry, 1107, "ID_BLACKBERRYFLIPMPEGVIDEO",
          "BlackBerry Flip 8220/8230  - MPEG4 Video", "mp4",
          { .width = "320",
            .height = "240",
            .frameRate = "25",
            .audioBitrate = "96k",
            .channels = "2" }),
    entry(kBlackBerry, 1108, "ID_BLACKBERRYPEARLMPEGVIDEO",
          "BlackBerry Pearl 8100/8110/8120/8130 - MPEG4 Video", "mp4",
          { .width = "240",
            .height = "260",
            .frameRate = "25",
            .audioBitrate = "96k",
            .channels = "2" }),
    entry(kBlackBerry, 1109, "ID_BLACKBERRYPLAYBOOKHVIDEO", "BlackBerry Playbook - H264 Video",
          "mp4h264", { .width = "1024", .height = "600", .frameRate = "29.97", .channels = "2" }),
    entry(kBlackBerry, 1110, "ID_BLACKBERRYPLAYBOOKMPEGVIDEO", "BlackBerry Playbook - MPEG4 Video",
          "mp4", { .width = "1024", .height = "600", .frameRate = "29.97", .channels = "2" }),
    entry(kBlackBerry, 1113, "ID_BLACKBERRYPLAYBOOKWMVVIDEO", "BlackBerry Playbook - WMV Video",
          "wmv", { .width = "1024", .height = "600", .frameRate = "29.97", .channels = "2" }),
    entry(kBlackBerry, 1111, "ID_BLACKBERRYSTORMSTORMTORCHTOURHVIDEO",
          "BlackBerry Storm/Storm2/Torch/Tour - H264 Video", "mp4h264",
          { .width = "480",
            .height = "360",
            .frameRate = "30",
            .audioBitrate = "96k",
            .channels = "2" }),
    entry(kBlackBerry, 1112, "ID_BLACKBERRYTOURHVIDEO", "BlackBerry Tour 9630 - H264 Video",
          "mp4h264",
          { .width = "480",
            .height = "360",
            .frameRate = "25",
            .audioBitrate = "96k",
            .channels = "2" }),
    entry(kHdVideo, 1155, "ID_HDASFVIDEO", "HD - ASF Video", "asf",
          { .width = "1920", .height = "1080", .channels = "2" }),
    entry(kHdVideo, 1157, "ID_HDHVIDEO", "HD - H264 Video", "mp4h264",
          { .width = "1920", .height = "1080", .audioBitrate = "192k", .channels = "2" }),
    entry(kHdVideo, 1158, "ID_HDMKVVIDEO", "HD - MKV Video", "mkv",
          { .width = "1920", .height = "1080", .channels = "2" }),
    entry(kHdVideo, 1159, "ID_HDMOVVIDEO", "HD - MOV Video", "mov",
          { .width = "1920", .height = "1080", .audioBitrate = "192k", .channels = "2" }),
    entry(kHdVideo, 1160, "ID_HDMPEGVIDEO", "HD - MPEG4 Video", "mp4",
          { .width = "1920", .height = "1080", .audioBitrate = "192k", .channels = "2" }),
    entry(kHdVideo, 1161, "ID_HDRMVIDEO", "HD - RM Video", "rm",
          { .width = "1920", .height = "1080", .channels = "2" }),
    entry(kHdVideo, 1162, "ID_HDWMVVIDEO", "HD - WMV Video", "wmv",
          { .width = "1920", .height = "1080", .channels = "2" }),
    entry(kHdVideo, 1163, "ID_HDXVIDVIDEO", "HD - Xvid Video", "avi",
          { .width = "1920", .height = "1080", .channels = "2" }),
    entry(kPmp, 1140, "ID_ARCHOSHVIDEO", "Archos - H264 Video", "mp4h264",
          { .width = "800", .height = "480", .frameRate = "29.97", .channels = "2" }),
    entry(kPmp, 1141, "ID_ARCHOSMPEGVIDEO", "Archos - MPEG4 Video", "mp4",
          { .width = "800", .height = "480", .frameRate = "29.97", .channels = "2" }),
    entry(kPmp, 1142, "ID_ARCHOSWMVVIDEO", "Archos - WMV Video", "wmv",
          { .width = "800", .height = "480", .frameRate = "29.97", .channels = "2" }),
    entry(kPmp, 1143, "ID_CREATIVEZENHVIDEO", "Creative ZEN - H264 Video", "mp4h264",
          { .width = "480", .height = "272", .frameRate = "30", .channels = "2" }),
    entry(kPmp, 1144, "ID_CREATIVEZENMPEGVIDEO", "Creative ZEN - MPEG4 Video", "mp4",
          { .width = "480", .height = "272", .frameRate = "30", .channels = "2" }),
    entry(kPmp, 1145, "ID_CREATIVEZENWMVVIDEO", "Creative ZEN - WMV Video", "wmv",
          { .width = "480", .height = "272", .frameRate = "30", .channels = "2" }),
    entry(kPmp, 1153, "ID_CREATIVEZENXVIDVIDEO", "Creative ZEN - Xvid Video", "avi",
          { .width = "480", .height = "272", .frameRate = "30", .channels = "2" }),
    entry(kPmp, 1146, "ID_IRIVERHVIDEO", "iRiver - H264 Video", "mp4h264",
          { .width = "480", .height = "272", .frameRate = "30", .channels = "2" }),
    entry(kPmp, 1147, "ID_IRIVERMPEGVIDEO", "iRiver - MPEG4 Video", "mp4",
          { .width = "480", .height = "272", .frameRate = "30", .channels = "2" }),
    entry(kPmp, 1148, "ID_IRIVERWMVVIDEO", "iRiver - WMV Video", "wmv",
          { .width = "480", .height = "272", .frameRate = "30", .channels = "2" }),
    entry(kPmp, 1149, "ID_IRIVERXVIDVIDEO", "iRiver - Xvid Video", "avi",
          { .width = "480", .height = "272", .frameRate = "30", .channels = "2" }),
    entry(kPmp, 1150, "ID_ZUNEHVIDEO", "Zune - H264 Video", "mp4h264",
          { .width = "320", .height = "240", .frameRate = "29.97", .channels = "2" }),
    entry(kPmp, 1151, "ID_ZUNEMPEGVIDEO", "Zune - MPEG4 Video", "mp4",
          { .width = "320", .height = "240", .frameRate = "29.97", .channels = "2" }),
    entry(kPmp, 1152, "ID_ZUNEWMVVIDEO", "Zune - WMV Video", "wmv",
          { .width = "320", .height = "240", .frameRate = "29.97", .channels = "2" }),
    entry(kPs3, 1125, "ID_PSHVIDEO", "PS3 - H264 Video", "mp4h264",
          { .width = "720", .height = "480", .channels = "2" }),
    entry(kPs3, 1124, "ID_PSHHDVIDEO", "PS3 - H264 HD Video", "mp4h264",
          { .width = "1280", .height = "720", .channels = "2" }),
    entry(kPs3, 1127, "ID_PSWMVVIDEO", "PS3 - WMV Video", "wmv",
          { .width = "720", .height = "480", .channels = "2" }),
    entry(kPs3, 1126, "ID_PSWMVHDVIDEO", "PS3 - WMV HD Video", "wmv",
          { .width = "1280", .height = "720", .channels = "2" }),
    entry(kPs3, 1128, "ID_PSXVIDVIDEO", "PS3 - Xvid Video", "avi",
          { .width = "720", .height = "480", .channels = "2" }),
    entry(kPs3, 1129, "ID_PSXVIDHDVIDEO", "PS3 - Xvid HD Video", "avi",
          { .width = "1280", .height = "720", .channels = "2" }),
    entry(kPsp, 1119, "ID_PSPHVIDEO", "PSP - H264 Video", "mp4h264",
          { .width = "480", .height = "272", .channels = "2" }),
    entry(kPsp, 1120, "ID_PSPHVIDEOFORTV", "PSP - H264 Video for TV", "mp4h264",
          { .width = "720", .height = "480", .channels = "2" }),
    entry(kPsp, 1121, "ID_PSPHVIDEOFORFIRMWAREANDABOVE",
          "PSP - H264 Video for firmware 2.0 and above", "mp4h264",
          { .width = "368", .height = "208", .channels = "2" }),
    entry(kPsp, 1122, "ID_PSPMPEGVIDEO", "PSP - MPEG4 Video", "mp4",
          { .width = "368", .height = "208", .channels = "2" }),
    entry(kDiscs, 1180, "ID_DVDNTSCVIDEO", "DVD NTSC - MPEG-2  Video", "ntsc-dvd",
          { .width = "720", .height = "480", .frameRate = "29.97" }),
    entry(kDiscs, 1182, "ID_DVDPALVIDEO", "DVD PAL - MPEG-2 Video", "pal-dvd",
          { .width = "720", .height = "576", .frameRate = "25" }),
    entry(kDiscs, 1179, "ID_VCDNTSCVIDEO", "VCD NTSC - MPEG-1 Video", "ntsc-vcd",
          { .width = "352", .height = "240", .frameRate = "29.97" }),
    entry(kDiscs, 1181, "ID_VCDPALVIDEO", "VCD PAL - MPEG-1 Video", "pal-vcd",
          { .width = "352", .height = "288", .frameRate = "25" }),
    entry(kWebVideo, 1166, "ID_DAILYMOTIONHVIDEO", "Dailymotion - H264 Video", "mp4h264",
          { .width = "640", .height = "480", .channels = "2" }),
    entry(kWebVideo, 1165, "ID_DAILYMOTIONHHDVIDEO", "Dailymotion - H264 HD Video", "mp4h264",
          { .width = "1280", .height = "720", .audioBitrate = "192k", .channels = "2" }),
    entry(kWebVideo, 1167, "ID_FACEBOOKHVIDEO", "Facebook - H264 Video", "mp4h264",
          { .width = "640", .height = "480", .channels = "2" }),
    entry(kWebVideo, 1168, "ID_FACEBOOKHHDVIDEO", "Facebook - H264 HD Video", "mp4h264",
          { .width = "1280", .height = "720", .audioBitrate = "192k", .channels = "2" }),
    entry(kWebVideo, 1169, "ID_FLICKRHVIDEO", "Flickr - H264 Video", "mp4h264",
          { .width = "640", .height = "480", .channels = "2" }),
    entry(kWebVideo, 1170, "ID_FLICKRHHDVIDEO", "Flickr - H264 HD Video", "mp4h264",
          { .width = "1280", .height = "720", .audioBitrate = "192k", .channels = "2" }),
    entry(kWebVideo, 1171, "ID_TWITVIDHVIDEO", "TwitVid - H264 Video", "mp4h264",
          { .width = "640", .height = "480", .channels = "2" }),
    entry(kWebVideo, 1172, "ID_TWITVIDHHDVIDEO", "TwitVid - H264 HD Video", "mp4h264",
          { .width = "1280", .height = "720", .audioBitrate = "192k", .channels = "2" }),
    entry(kWebVideo, 1173, "ID_VIMEOHVIDEO", "Vimeo - H264 Video", "mp4h264",
          { .width = "640", .height = "480", .channels = "2" }),
    entry(kWebVideo, 1174, "ID_VIMEOHHDVIDEO", "Vimeo - H264 HD Video", "mp4h264",
          { .width = "1280", .height = "720", .audioBitrate = "192k", .channels = "2" }),
    entry(kWebVideo, 1175, "ID_YOUTUBEHVIDEO", "YOUTUBE - H264 Video", "mp4h264",
          { .width = "640", .height = "480", .channels = "2" }),
    entry(kWebVideo, 1176, "ID_YOUTUBEHHDVIDEO", "YOUTUBE - H264 HD Video", "mp4h264",
          { .width = "1280", .height = "720", .channels = "2" }),
    entry(kWindowsPhone, 1115, "ID_WINDOWSPHONEHVIDEO", "Windows Phone 7 - H264 Video", "mp4h264",
          { .width = "800", .height = "480", .frameRate = "29.97", .channels = "2" }),
    entry(kWindowsPhone, 1116, "ID_WINDOWSPHONEMPEGVIDEO", "Windows Phone 7 - MPEG4 Video", "mp4",
          { .width = "800", .height = "480", .frameRate = "29.97", .channels = "2" }),
    entry(kWindowsPhone, 1117, "ID_WINDOWSPHONEWMVVIDEO", "Windows Phone 7 - WMV Video", "wmv",
          { .width = "800", .height = "480", .frameRate = "29.97", .channels = "2" }),
    entry(kXbox, 1132, "ID_XBOXHVIDEO", "Xbox360 - H264 Video", "mp4h264",
          { .width = "720", .height = "480", .channels = "2" }),
    entry(kXbox, 1133, "ID_XBOXHHDVIDEO", "Xbox360 - H264 HD Video", "mp4h264",
          { .width = "1280", .height = "720", .channels = "2" }),
    entry(kXbox, 1134, "ID_XBOXMPEGVIDEO", "Xbox360 - MPEG4 Video", "mp4",
          { .width = "720", .height = "480", .channels = "2" }),
    entry(kXbox, 1135, "ID_XBOXMPEGHDVIDEO", "Xbox360 - MPEG4 HD Video", "mp4",
          { .width = "1280", .height = "720", .channels = "2" }),
    entry(kXbox, 1131, "ID_XBOXWMVVIDEO", "Xbox360 - WMV Video", "wmv",
          { .width = "720", .height = "480", .channels = "2" }),
    entry(kXbox, 1136, "ID_XBOXWMVHDVIDEO", "Xbox360 - WMV HD Video", "wmv",
          { .width = "1280", .height = "720", .channels = "2" }),
    entry(kXbox, 1137, "ID_XBOXXVIDVIDEO", "Xbox360 - Xvid Video", "avi",
          { .width = "720", .height = "480", .channels = "2" }),
    entry(kXbox, 1138, "ID_XBOXXVIDHDVIDEO", "Xbox360 - Xvid HD Video", "avi",
          { .width = "1280", .height = "720", .channels = "2" }),
};

// The row of a table with that id, or nullptr.
template<typename Row> const Row *withId(std::span<const Row> rows, int id)
{
    const auto it
        = std::find_if(rows.begin(), rows.end(), [id](const Row &r) { return r.Id == id; });
    return it == rows.end() ? nullptr : &*it;
}

} // namespace

namespace Catalogue {

std::span<const CatalogueEntry> entries()
{
    return kEntries;
}

std::span<const CatalogueSubmenu> submenus()
{
    return kSubmenus;
}

const CatalogueEntry *findById(int id)
{
    return withId(std::span<const CatalogueEntry>(kEntries), id);
}

const CatalogueSubmenu *findSubmenu(int id)
{
    return withId(std::span<const CatalogueSubmenu>(kSubmenus), id);
}

QString groupPath(const CatalogueEntry &entry)
{
    const CatalogueSubmenu *sub = findSubmenu(entry.SubmenuId);
    if (!sub)
        return QString();
    if (sub->ParentId == DeviceSubmenuId)
        return QStringLiteral("Device/") + QString::fromUtf8(sub->Caption);
    return QString::fromUtf8(sub->Caption);
}

DeviceLimits deviceLimits(const CatalogueEntry &entry)
{
    const CatalogueSubmenu *sub = findSubmenu(entry.SubmenuId);
    if (!sub || sub->ParentId != DeviceSubmenuId || entry.AudioOnly)
        return {};
    if (sub->Id == kHdVideo || sub->Id == kDiscs || sub->Id == kWebVideo)
        return {};
    DeviceLimits limits;
    // Every phone, player and pad of the catalogue decodes 30 frames a second at most, and the
    // consoles play H.264 up to 1080p at 30 (High profile, level 4.1).
    limits.maxFrameRate = 30;
    if ((sub->Id == kPs3 || sub->Id == kXbox) && entry.formatKey() == QLatin1String("mp4h264")) {
        limits.maxWidth = 1920;
        limits.maxHeight = 1080;
    } else if (entry.hasSize()) {
        // The preset's frame is the largest its device is known to play.
        limits.maxWidth = QString::fromLatin1(entry.Width).toInt();
        limits.maxHeight = QString::fromLatin1(entry.Height).toInt();
    }
    return limits;
}

} // namespace Catalogue

QString ExtensionForKey(const QString &key)
{
    if (key == QLatin1String("mp4h264"))
        return QStringLiteral("mp4");
    static const char *const mpgKeys[] = { "mpg2", "ntsc-dvd", "pal-dvd", "ntsc-vcd", "pal-vcd" };
    for (const char *k : mpgKeys) {
        if (key == QLatin1String(k))
            return QStringLiteral("mpg");
    }
    return key;
}
