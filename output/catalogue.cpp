#include "catalogue.h"

#include <algorithm>

namespace {

const CatalogueSubmenu kSubmenus[] = {
    { 1020, "General Audio Format", 0 },
    { 1183, "General Video Format", 0 },
    { 1021, "Device", 0 },
    { 1081, "Android", 1021 },
    { 1094, "Android Pad", 1021 },
    { 1072, "Apple TV", 1021 },
    { 1076, "iPad", 1021 },
    { 1054, "iPhone", 1021 },
    { 1060, "iPod", 1021 },
    { 1099, "BlackBerry", 1021 },
    { 1154, "HD Video", 1021 },
    { 1139, "PMP", 1021 },
    { 1123, "PS3", 1021 },
    { 1118, "PSP", 1021 },
    { 1178, "VCD/DVD", 1021 },
    { 1164, "Web Video", 1021 },
    { 1114, "Windows Phone", 1021 },
    { 1130, "Xbox", 1021 },
};

// Id, symbol, caption, submenu, format key, audio only, width, height, frame rate,
// audio bit rate, channels. Within a submenu the order is the menu's, not the ids'.
const CatalogueEntry kEntries[] = {
    // General Audio Format
    { 1186, "ID_AAC", "AAC - Advanced Audio Coding Files (*.aac)", 1020, "aac", true, nullptr,
      nullptr, nullptr, nullptr, nullptr },
    { 1188, "ID_AC", "AC3 - Audio Coding 3 (*.ac3)", 1020, "ac3", true, nullptr, nullptr, nullptr,
      nullptr, nullptr },
    { 1187, "ID_AIFF", "AIFF - Audio InterChange File Format (*.aiff)", 1020, "aiff", true, nullptr,
      nullptr, nullptr, nullptr, nullptr },
    { 1189, "ID_FLAC", "FLAC - Free Lossless Audio Codec (*.flac)", 1020, "flac", true, nullptr,
      nullptr, nullptr, nullptr, nullptr },
    { 1190, "ID_MA", "M4A - MPEG-4 Audio (*.m4a)", 1020, "m4a", true, nullptr, nullptr, nullptr,
      nullptr, nullptr },
    { 1184, "ID_MPA", "MP2 - MPEG Layer-2 Audio (*.mp2)", 1020, "mp2", true, nullptr, nullptr,
      nullptr, nullptr, nullptr },
    { 1185, "ID_MPB", "MP3 - MPEG Layer-3 Audio (*.mp3)", 1020, "mp3", true, nullptr, nullptr,
      nullptr, nullptr, nullptr },
    { 1191, "ID_OGG", "OGG - Ogg Vorbis Audio (*.ogg)", 1020, "ogg", true, nullptr, nullptr,
      nullptr, nullptr, nullptr },
    { 1192, "ID_RA", "RA - Real Audio (*.ra)", 1020, "ra", true, nullptr, nullptr, nullptr, nullptr,
      nullptr },
    { 1193, "ID_WAV", "WAV - Waveform Audio (*.wav)", 1020, "wav", true, nullptr, nullptr, nullptr,
      nullptr, nullptr },
    { 1194, "ID_WMA", "WMA - Windows Media Audio (*.wma)", 1020, "wma", true, nullptr, nullptr,
      nullptr, nullptr, nullptr },
    // General Video Format
    { 1046, "ID_GP", "3GP - 3GP Format (*.3gp)", 1183, "3gp", false, nullptr, nullptr, nullptr,
      nullptr, nullptr },
    { 1036, "ID_ASF", "ASF - Advanced Streaming Format (*.asf)", 1183, "asf", false, nullptr,
      nullptr, nullptr, nullptr, nullptr },
    { 1045, "ID_AVI", "AVI - AVI Xvid Format (*.avi)", 1183, "avi", false, nullptr, nullptr,
      nullptr, nullptr, nullptr },
    { 1029, "ID_FV", "F4V - Flash Video (*.f4v)", 1183, "f4v", false, nullptr, nullptr, nullptr,
      nullptr, nullptr },
    { 1028, "ID_FLV", "FLV - Flash Video (*.flv)", 1183, "flv", false, nullptr, nullptr, nullptr,
      nullptr, nullptr },
    { 1030, "ID_MKV", "MKV - Matroska Video (*.mkv)", 1183, "mkv", false, nullptr, nullptr, nullptr,
      nullptr, nullptr },
    { 1034, "ID_MOV", "MOV - QuickTime Video (*.mov)", 1183, "mov", false, nullptr, nullptr,
      nullptr, nullptr, nullptr },
    { 1057, "ID_MPH", "MP4 - H264 Video (*.mp4)", 1183, "mp4h264", false, nullptr, nullptr, nullptr,
      nullptr, nullptr },
    { 1032, "ID_MP", "MP4 - MPEG-4 Video (*.mp4)", 1183, "mp4", false, nullptr, nullptr, nullptr,
      nullptr, nullptr },
    { 1050, "ID_MPEG", "MPG - MPEG-1 Video (*.mpg)", 1183, "mpg", false, nullptr, nullptr, nullptr,
      nullptr, nullptr },
    { 1177, "ID_MPEGFORMATMPGa", "MPG - MPEG-2 Video (*.mpg)", 1183, "mpg2", false, nullptr,
      nullptr, nullptr, nullptr, nullptr },
    { 1052, "ID_RM", "RM - Real Video (*.rm)", 1183, "rm", false, nullptr, nullptr, nullptr,
      nullptr, nullptr },
    { 1051, "ID_SWF", "SWF - Shock Wave Flash (*.swf)", 1183, "swf", false, nullptr, nullptr,
      nullptr, nullptr, nullptr },
    { 1035, "ID_VOB", "VOB - DVD Video Object (*.vob)", 1183, "vob", false, "720", "480", nullptr,
      nullptr, nullptr },
    { 1053, "ID_WEBM", "WebM - WebM Video (*.webm)", 1183, "webm", false, nullptr, nullptr, nullptr,
      nullptr, nullptr },
    { 1037, "ID_WMV", "WMV - Windows Media Video (*.wmv)", 1183, "wmv", false, nullptr, nullptr,
      nullptr, nullptr, nullptr },
    // Device/Android
    { 1082, "ID_ANDROIDMPEGVIDEO", "Android - MPEG4 Video", 1081, "mp4", false, nullptr, nullptr,
      nullptr, nullptr, "2" },
    { 1083, "ID_ANDROIDHVIDEOXa", "Android - H264 Video 320x240", 1081, "mp4h264", false, "320",
      "240", nullptr, "96k", "2" },
    { 1084, "ID_ANDROIDHVIDEOXb", "Android - H264 Video 480x320", 1081, "mp4h264", false, "480",
      "320", nullptr, "96k", "2" },
    { 1085, "ID_ANDROIDHVIDEOXc", "Android - H264 Video 800x480", 1081, "mp4h264", false, "800",
      "480", nullptr, nullptr, "2" },
    { 1086, "ID_ANDROIDHVIDEOXd", "Android - H264 Video 854x480", 1081, "mp4h264", false, "854",
      "480", nullptr, nullptr, "2" },
    { 1087, "ID_HTCGMAGICMPEGVIDEO", "HTC G2 Magic - MPEG4 Video", 1081, "mp4", false, "480", "320",
      "29.97", nullptr, "2" },
    { 1088, "ID_HTCHEROMPEGVIDEO", "HTC Hero - MPEG4 Video", 1081, "mp4", false, "480", "320",
      "29.97", nullptr, "2" },
    { 1089, "ID_HTCTATTOOMPEGVIDEO", "HTC Tattoo - MPEG4 Video", 1081, "mp4", false, "320", "240",
      "29.97", nullptr, "2" },
    { 1090, "ID_MOTOROLACLIQMPEGVIDEO", "Motorola CLIQ - MPEG4 Video", 1081, "mp4", false, "480",
      "320", "23.97", nullptr, "2" },
    { 1091, "ID_MOTOROLADROIDMPEGVIDEO", "Motorola Droid - MPEG4 Video", 1081, "mp4", false, "480",
      "320", "23.97", "160k", "2" },
    { 1092, "ID_NEXUSONEMPEGVIDEO", "Nexus One - MPEG4 Video", 1081, "mp4", false, "480", "320",
      "29.97", nullptr, "2" },
    { 1093, "ID_SAMSUNGIMPEGVIDEO", "Samsung i7500 - MPEG4 Video", 1081, "mp4", false, "480", "320",
      "29.97", nullptr, "2" },
    // Device/Android Pad
    { 1095, "ID_SAMSUNGPHVIDEO", "Samsung P1000 - H264 Video", 1094, "mp4h264", false, "1280",
      "720", "29.97", nullptr, "2" },
    { 1096, "ID_SAMSUNGPMPEGVIDEO", "Samsung P1000 - MPEG4 Video", 1094, "mp4", false, "1280",
      "720", "23.97", nullptr, "2" },
    { 1097, "ID_MOTOROLAXOOMHVIDEO", "Motorola Xoom - H264 Video", 1094, "mp4h264", false, "1280",
      "720", "29.97", nullptr, "2" },
    { 1098, "ID_MOTOROLAXOOMMPEGVIDEO", "Motorola Xoom - MPEG4 Video", 1094, "mp4", false, "1280",
      "720", "23.97", nullptr, "2" },
    // Device/Apple TV
    { 1075, "ID_APPLETVMPEGVIDEO", "Apple TV - MPEG4 Video", 1072, "mp4", false, "720", "432",
      "29.97", nullptr, "2" },
    { 1074, "ID_APPLETVHVIDEO", "Apple TV - H264 Video", 1072, "mp4h264", false, "720", "480",
      "29.97", nullptr, "2" },
    { 1073, "ID_APPLETVHHDVIDEO", "Apple TV - H264 HD Video", 1072, "mp4h264", false, "1280", "720",
      "29.97", nullptr, "2" },
    // Device/iPad
    { 1079, "ID_IPADMPEGVIDEO", "iPad - MPEG4 Video", 1076, "mp4", false, "640", "480", "23.97",
      nullptr, "2" },
    { 1077, "ID_IPADHVIDEO", "iPad - H264 Video", 1076, "mp4h264", false, "720", "576", "29.97",
      nullptr, "2" },
    { 1078, "ID_IPADHHDVIDEO", "iPad - H264 HD Video", 1076, "mp4h264", false, "1280", "720",
      "29.97", nullptr, "2" },
    { 1080, "ID_IPADTwoHHDVIDEO", "iPad2 - H264 HD Video", 1076, "mp4h264", false, "1280", "720",
      "29.97", nullptr, "2" },
    // Device/iPhone
    { 1055, "ID_IPHONEHVIDEO", "iPhone - H.264 Video", 1054, "mp4h264", false, "480", "320",
      "29.97", nullptr, "2" },
    { 1056, "ID_IPHONEHVIDEOFORTV", "iPhone - H.264 Video for TV", 1054, "mp4h264", false, "640",
      "480", "29.97", nullptr, "2" },
    { 1058, "ID_IPHONEMPEGVIDEO", "iPhone - MPEG4 Video", 1054, "mp4", false, "480", "320", "29.97",
      nullptr, "2" },
    { 1059, "ID_IPHONEFourHVIDEO", "iPhone4 - H.264 Video", 1054, "mp4h264", false, "960", "640",
      "29.97", nullptr, "2" },
    // Device/iPod
    { 1061, "ID_IPODHVIDEO", "iPod - H264 Video", 1060, "mp4h264", false, "320", "240", "29.97",
      nullptr, "2" },
    { 1063, "ID_IPODHVIDEOFORTV", "iPod - H264 Video for TV", 1060, "mp4h264", false, "640", "480",
      "29.97", nullptr, "2" },
    { 1062, "ID_IPODMPEGVIDEO", "iPod - MPEG4 Video", 1060, "mp4", false, "320", "240", "29.97",
      nullptr, "2" },
    { 1064, "ID_IPODMPEGVIDEOFORTV", "iPod - MPEG4 Video for TV", 1060, "mp4", false, "640", "480",
      "29.97", nullptr, "2" },
    { 1065, "ID_IPODNANOHVIDEO", "iPod Nano 5 - H264 Video", 1060, "mp4h264", false, "376", "240",
      "30", nullptr, "2" },
    { 1066, "ID_IPODNANOMPEGVIDEO", "iPod Nano 5 - MPEG4 Video", 1060, "mp4", false, "376", "240",
      "30", nullptr, "2" },
    { 1067, "ID_IPODTOUCHHVIDEO", "iPod Touch - H264 Video", 1060, "mp4h264", false, "480", "320",
      "29.97", nullptr, "2" },
    { 1068, "ID_IPODTOUCHHVIDEOFORTV", "iPod Touch - H264 Video for TV", 1060, "mp4h264", false,
      "640", "480", "29.97", nullptr, "2" },
    { 1069, "ID_IPODTOUCHMPEGVIDEO", "iPod Touch - MPEG4 Video", 1060, "mp4", false, "480", "320",
      "29.97", nullptr, "2" },
    { 1070, "ID_IPODTOUCHMPEGVIDEOFORTV", "iPod Touch - MPEG4 Video for TV", 1060, "mp4", false,
      "640", "480", "29.97", nullptr, "2" },
    { 1071, "ID_IPODTOUCHFourHVIDEO", "iPod Touch4 - H264 Video", 1060, "mp4h264", false, "960",
      "640", "29.97", nullptr, "2" },
    // Device/BlackBerry
    { 1100, "ID_BLACKBERRYGPVIDEO", "BlackBerry - 3GP Video", 1099, "3gp", false, "352", "288",
      "15", nullptr, nullptr },
    { 1101, "ID_BLACKBERRYMPEGVIDEO", "BlackBerry - MPEG4 Video", 1099, "mp4", false, "320", "240",
      "15", "96k", "2" },
    { 1102, "ID_BLACKBERRYMPEGVIDEOa", "BlackBerry 8800/8700/8500/8300 - MPEG4 Video", 1099, "mp4",
      false, "320", "240", "25", "96k", "2" },
    { 1103, "ID_BLACKBERRYBOLDHVIDEO", "BlackBerry Bold 9000 - H264 Video", 1099, "mp4h264", false,
      "480", "320", "25", "96k", "2" },
    { 1104, "ID_BLACKBERRYBOLDHVIDEOb", "BlackBerry Bold 9700 - H264 Video", 1099, "mp4h264", false,
      "480", "360", "30", "96k", "2" },
    { 1105, "ID_BLACKBERRYCHARMMPEGVIDEO", "BlackBerry Charm 7100  - MPEG4 Video", 1099, "mp4",
      false, "240", "260", "15", "96k", "2" },
    { 1106, "ID_BLACKBERRYCURVEHVIDEO", "BlackBerry Curve 8900 - H264 Video", 1099, "mp4h264",
      false, "480", "320", "25", "96k", "2" },
    { 1107, "ID_BLACKBERRYFLIPMPEGVIDEO", "BlackBerry Flip 8220/8230  - MPEG4 Video", 1099, "mp4",
      false, "320", "240", "25", "96k", "2" },
    { 1108, "ID_BLACKBERRYPEARLMPEGVIDEO", "BlackBerry Pearl 8100/8110/8120/8130 - MPEG4 Video",
      1099, "mp4", false, "240", "260", "25", "96k", "2" },
    { 1109, "ID_BLACKBERRYPLAYBOOKHVIDEO", "BlackBerry Playbook - H264 Video", 1099, "mp4h264",
      false, "1024", "600", "29.97", nullptr, "2" },
    { 1110, "ID_BLACKBERRYPLAYBOOKMPEGVIDEO", "BlackBerry Playbook - MPEG4 Video", 1099, "mp4",
      false, "1024", "600", "29.97", nullptr, "2" },
    { 1113, "ID_BLACKBERRYPLAYBOOKWMVVIDEO", "BlackBerry Playbook - WMV Video", 1099, "wmv", false,
      "1024", "600", "29.97", nullptr, "2" },
    { 1111, "ID_BLACKBERRYSTORMSTORMTORCHTOURHVIDEO",
      "BlackBerry Storm/Storm2/Torch/Tour - H264 Video", 1099, "mp4h264", false, "480", "360", "30",
      "96k", "2" },
    { 1112, "ID_BLACKBERRYTOURHVIDEO", "BlackBerry Tour 9630 - H264 Video", 1099, "mp4h264", false,
      "480", "360", "25", "96k", "2" },
    // Device/HD Video
    { 1155, "ID_HDASFVIDEO", "HD - ASF Video", 1154, "asf", false, "1920", "1080", nullptr, nullptr,
      "2" },
    { 1157, "ID_HDHVIDEO", "HD - H264 Video", 1154, "mp4h264", false, "1920", "1080", nullptr,
      "192k", "2" },
    { 1158, "ID_HDMKVVIDEO", "HD - MKV Video", 1154, "mkv", false, "1920", "1080", nullptr, nullptr,
      "2" },
    { 1159, "ID_HDMOVVIDEO", "HD - MOV Video", 1154, "mov", false, "1920", "1080", nullptr, "192k",
      "2" },
    { 1160, "ID_HDMPEGVIDEO", "HD - MPEG4 Video", 1154, "mp4", false, "1920", "1080", nullptr,
      "192k", "2" },
    { 1161, "ID_HDRMVIDEO", "HD - RM Video", 1154, "rm", false, "1920", "1080", nullptr, nullptr,
      "2" },
    { 1162, "ID_HDWMVVIDEO", "HD - WMV Video", 1154, "wmv", false, "1920", "1080", nullptr, nullptr,
      "2" },
    { 1163, "ID_HDXVIDVIDEO", "HD - Xvid Video", 1154, "avi", false, "1920", "1080", nullptr,
      nullptr, "2" },
    // Device/PMP
    { 1140, "ID_ARCHOSHVIDEO", "Archos - H264 Video", 1139, "mp4h264", false, "800", "480", "29.97",
      nullptr, "2" },
    { 1141, "ID_ARCHOSMPEGVIDEO", "Archos - MPEG4 Video", 1139, "mp4", false, "800", "480", "29.97",
      nullptr, "2" },
    { 1142, "ID_ARCHOSWMVVIDEO", "Archos - WMV Video", 1139, "wmv", false, "800", "480", "29.97",
      nullptr, "2" },
    { 1143, "ID_CREATIVEZENHVIDEO", "Creative ZEN - H264 Video", 1139, "mp4h264", false, "480",
      "272", "30", nullptr, "2" },
    { 1144, "ID_CREATIVEZENMPEGVIDEO", "Creative ZEN - MPEG4 Video", 1139, "mp4", false, "480",
      "272", "30", nullptr, "2" },
    { 1145, "ID_CREATIVEZENWMVVIDEO", "Creative ZEN - WMV Video", 1139, "wmv", false, "480", "272",
      "30", nullptr, "2" },
    { 1153, "ID_CREATIVEZENXVIDVIDEO", "Creative ZEN - Xvid Video", 1139, "avi", false, "480",
      "272", "30", nullptr, "2" },
    { 1146, "ID_IRIVERHVIDEO", "iRiver - H264 Video", 1139, "mp4h264", false, "480", "272", "30",
      nullptr, "2" },
    { 1147, "ID_IRIVERMPEGVIDEO", "iRiver - MPEG4 Video", 1139, "mp4", false, "480", "272", "30",
      nullptr, "2" },
    { 1148, "ID_IRIVERWMVVIDEO", "iRiver - WMV Video", 1139, "wmv", false, "480", "272", "30",
      nullptr, "2" },
    { 1149, "ID_IRIVERXVIDVIDEO", "iRiver - Xvid Video", 1139, "avi", false, "480", "272", "30",
      nullptr, "2" },
    { 1150, "ID_ZUNEHVIDEO", "Zune - H264 Video", 1139, "mp4h264", false, "320", "240", "29.97",
      nullptr, "2" },
    { 1151, "ID_ZUNEMPEGVIDEO", "Zune - MPEG4 Video", 1139, "mp4", false, "320", "240", "29.97",
      nullptr, "2" },
    { 1152, "ID_ZUNEWMVVIDEO", "Zune - WMV Video", 1139, "wmv", false, "320", "240", "29.97",
      nullptr, "2" },
    // Device/PS3
    { 1125, "ID_PSHVIDEO", "PS3 - H264 Video", 1123, "mp4h264", false, "720", "480", nullptr,
      nullptr, "2" },
    { 1124, "ID_PSHHDVIDEO", "PS3 - H264 HD Video", 1123, "mp4h264", false, "1280", "720", nullptr,
      nullptr, "2" },
    { 1127, "ID_PSWMVVIDEO", "PS3 - WMV Video", 1123, "wmv", false, "720", "480", nullptr, nullptr,
      "2" },
    { 1126, "ID_PSWMVHDVIDEO", "PS3 - WMV HD Video", 1123, "wmv", false, "1280", "720", nullptr,
      nullptr, "2" },
    { 1128, "ID_PSXVIDVIDEO", "PS3 - Xvid Video", 1123, "avi", false, "720", "480", nullptr,
      nullptr, "2" },
    { 1129, "ID_PSXVIDHDVIDEO", "PS3 - Xvid HD Video", 1123, "avi", false, "1280", "720", nullptr,
      nullptr, "2" },
    // Device/PSP
    { 1119, "ID_PSPHVIDEO", "PSP - H264 Video", 1118, "mp4h264", false, "480", "272", nullptr,
      nullptr, "2" },
    { 1120, "ID_PSPHVIDEOFORTV", "PSP - H264 Video for TV", 1118, "mp4h264", false, "720", "480",
      nullptr, nullptr, "2" },
    { 1121, "ID_PSPHVIDEOFORFIRMWAREANDABOVE", "PSP - H264 Video for firmware 2.0 and above", 1118,
      "mp4h264", false, "368", "208", nullptr, nullptr, "2" },
    { 1122, "ID_PSPMPEGVIDEO", "PSP - MPEG4 Video", 1118, "mp4", false, "368", "208", nullptr,
      nullptr, "2" },
    // Device/VCD/DVD
    { 1180, "ID_DVDNTSCVIDEO", "DVD NTSC - MPEG-2  Video", 1178, "ntsc-dvd", false, "720", "480",
      "29.97", nullptr, nullptr },
    { 1182, "ID_DVDPALVIDEO", "DVD PAL - MPEG-2 Video", 1178, "pal-dvd", false, "720", "576", "25",
      nullptr, nullptr },
    { 1179, "ID_VCDNTSCVIDEO", "VCD NTSC - MPEG-1 Video", 1178, "ntsc-vcd", false, "352", "240",
      "29.97", nullptr, nullptr },
    { 1181, "ID_VCDPALVIDEO", "VCD PAL - MPEG-1 Video", 1178, "pal-vcd", false, "352", "288", "25",
      nullptr, nullptr },
    // Device/Web Video
    { 1166, "ID_DAILYMOTIONHVIDEO", "Dailymotion - H264 Video", 1164, "mp4h264", false, "640",
      "480", nullptr, nullptr, "2" },
    { 1165, "ID_DAILYMOTIONHHDVIDEO", "Dailymotion - H264 HD Video", 1164, "mp4h264", false, "1280",
      "720", nullptr, "192k", "2" },
    { 1167, "ID_FACEBOOKHVIDEO", "Facebook - H264 Video", 1164, "mp4h264", false, "640", "480",
      nullptr, nullptr, "2" },
    { 1168, "ID_FACEBOOKHHDVIDEO", "Facebook - H264 HD Video", 1164, "mp4h264", false, "1280",
      "720", nullptr, "192k", "2" },
    { 1169, "ID_FLICKRHVIDEO", "Flickr - H264 Video", 1164, "mp4h264", false, "640", "480", nullptr,
      nullptr, "2" },
    { 1170, "ID_FLICKRHHDVIDEO", "Flickr - H264 HD Video", 1164, "mp4h264", false, "1280", "720",
      nullptr, "192k", "2" },
    { 1171, "ID_TWITVIDHVIDEO", "TwitVid - H264 Video", 1164, "mp4h264", false, "640", "480",
      nullptr, nullptr, "2" },
    { 1172, "ID_TWITVIDHHDVIDEO", "TwitVid - H264 HD Video", 1164, "mp4h264", false, "1280", "720",
      nullptr, "192k", "2" },
    { 1173, "ID_VIMEOHVIDEO", "Vimeo - H264 Video", 1164, "mp4h264", false, "640", "480", nullptr,
      nullptr, "2" },
    { 1174, "ID_VIMEOHHDVIDEO", "Vimeo - H264 HD Video", 1164, "mp4h264", false, "1280", "720",
      nullptr, "192k", "2" },
    { 1175, "ID_YOUTUBEHVIDEO", "YOUTUBE - H264 Video", 1164, "mp4h264", false, "640", "480",
      nullptr, nullptr, "2" },
    { 1176, "ID_YOUTUBEHHDVIDEO", "YOUTUBE - H264 HD Video", 1164, "mp4h264", false, "1280", "720",
      nullptr, nullptr, "2" },
    // Device/Windows Phone
    { 1115, "ID_WINDOWSPHONEHVIDEO", "Windows Phone 7 - H264 Video", 1114, "mp4h264", false, "800",
      "480", "29.97", nullptr, "2" },
    { 1116, "ID_WINDOWSPHONEMPEGVIDEO", "Windows Phone 7 - MPEG4 Video", 1114, "mp4", false, "800",
      "480", "29.97", nullptr, "2" },
    { 1117, "ID_WINDOWSPHONEWMVVIDEO", "Windows Phone 7 - WMV Video", 1114, "wmv", false, "800",
      "480", "29.97", nullptr, "2" },
    // Device/Xbox
    { 1132, "ID_XBOXHVIDEO", "Xbox360 - H264 Video", 1130, "mp4h264", false, "720", "480", nullptr,
      nullptr, "2" },
    { 1133, "ID_XBOXHHDVIDEO", "Xbox360 - H264 HD Video", 1130, "mp4h264", false, "1280", "720",
      nullptr, nullptr, "2" },
    { 1134, "ID_XBOXMPEGVIDEO", "Xbox360 - MPEG4 Video", 1130, "mp4", false, "720", "480", nullptr,
      nullptr, "2" },
    { 1135, "ID_XBOXMPEGHDVIDEO", "Xbox360 - MPEG4 HD Video", 1130, "mp4", false, "1280", "720",
      nullptr, nullptr, "2" },
    { 1131, "ID_XBOXWMVVIDEO", "Xbox360 - WMV Video", 1130, "wmv", false, "720", "480", nullptr,
      nullptr, "2" },
    { 1136, "ID_XBOXWMVHDVIDEO", "Xbox360 - WMV HD Video", 1130, "wmv", false, "1280", "720",
      nullptr, nullptr, "2" },
    { 1137, "ID_XBOXXVIDVIDEO", "Xbox360 - Xvid Video", 1130, "avi", false, "720", "480", nullptr,
      nullptr, "2" },
    { 1138, "ID_XBOXXVIDHDVIDEO", "Xbox360 - Xvid HD Video", 1130, "avi", false, "1280", "720",
      nullptr, nullptr, "2" },
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
    constexpr int kHdVideo = 1154;
    constexpr int kDiscs = 1178;
    constexpr int kWebVideo = 1164;
    constexpr int kPs3 = 1123;
    constexpr int kXbox = 1130;
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
