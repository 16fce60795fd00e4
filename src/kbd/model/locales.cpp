#include "kbd/model/locales.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace kbd {
namespace {

constexpr std::array kLocales{
    Locale{0x0401, "ar-SA", "Arabic (Saudi Arabia)"},
    Locale{0x0402, "bg-BG", "Bulgarian (Bulgaria)"},
    Locale{0x0403, "ca-ES", "Catalan (Catalan)"},
    Locale{0x0404, "zh-TW", "Chinese (Traditional, Taiwan)"},
    Locale{0x0405, "cs-CZ", "Czech (Czech Republic)"},
    Locale{0x0406, "da-DK", "Danish (Denmark)"},
    Locale{0x0407, "de-DE", "German (Germany)"},
    Locale{0x0408, "el-GR", "Greek (Greece)"},
    Locale{0x0409, "en-US", "English (United States)"},
    Locale{0x040A, "es-ES_tradnl", "Spanish - Traditional Sort (Spain)"},
    Locale{0x040B, "fi-FI", "Finnish (Finland)"},
    Locale{0x040C, "fr-FR", "French (France)"},
    Locale{0x040D, "he-IL", "Hebrew (Israel)"},
    Locale{0x040E, "hu-HU", "Hungarian (Hungary)"},
    Locale{0x040F, "is-IS", "Icelandic (Iceland)"},
    Locale{0x0410, "it-IT", "Italian (Italy)"},
    Locale{0x0411, "ja-JP", "Japanese (Japan)"},
    Locale{0x0412, "ko-KR", "Korean (Korea)"},
    Locale{0x0413, "nl-NL", "Dutch (Netherlands)"},
    Locale{0x0414, "nb-NO", "Norwegian, Bokm\xC3\xA5l (Norway)"},
    Locale{0x0415, "pl-PL", "Polish (Poland)"},
    Locale{0x0416, "pt-BR", "Portuguese (Brazil)"},
    Locale{0x0418, "ro-RO", "Romanian (Romania)"},
    Locale{0x0419, "ru-RU", "Russian (Russia)"},
    Locale{0x041A, "hr-HR", "Croatian (Croatia)"},
    Locale{0x041B, "sk-SK", "Slovak (Slovakia)"},
    Locale{0x041C, "sq-AL", "Albanian (Albania)"},
    Locale{0x041D, "sv-SE", "Swedish (Sweden)"},
    Locale{0x041E, "th-TH", "Thai (Thailand)"},
    Locale{0x041F, "tr-TR", "Turkish (Turkey)"},
    Locale{0x0420, "ur-PK", "Urdu (Islamic Republic of Pakistan)"},
    Locale{0x0421, "id-ID", "Indonesian (Indonesia)"},
    Locale{0x0422, "uk-UA", "Ukrainian (Ukraine)"},
    Locale{0x0423, "be-BY", "Belarusian (Belarus)"},
    Locale{0x0424, "sl-SI", "Slovenian (Slovenia)"},
    Locale{0x0425, "et-EE", "Estonian (Estonia)"},
    Locale{0x0426, "lv-LV", "Latvian (Latvia)"},
    Locale{0x0427, "lt-LT", "Lithuanian (Lithuania)"},
    Locale{0x0429, "fa-IR", "Persian (Iran)"},
    Locale{0x042A, "vi-VN", "Vietnamese (Vietnam)"},
    Locale{0x042B, "hy-AM", "Armenian (Armenia)"},
    Locale{0x042C, "az-Latn-AZ", "Azerbaijani (Latin, Azerbaijan)"},
    Locale{0x042D, "eu-ES", "Basque (Basque)"},
    Locale{0x042F, "mk-MK", "Macedonian (North Macedonia)"},
    Locale{0x0436, "af-ZA", "Afrikaans (South Africa)"},
    Locale{0x0437, "ka-GE", "Georgian (Georgia)"},
    Locale{0x0438, "fo-FO", "Faroese (Faroe Islands)"},
    Locale{0x0439, "hi-IN", "Hindi (India)"},
    Locale{0x043A, "mt-MT", "Maltese (Malta)"},
    Locale{0x043E, "ms-MY", "Malay (Malaysia)"},
    Locale{0x043F, "kk-KZ", "Kazakh (Kazakhstan)"},
    Locale{0x0441, "sw-KE", "Kiswahili (Kenya)"},
    Locale{0x0445, "bn-IN", "Bangla (India)"},
    Locale{0x0449, "ta-IN", "Tamil (India)"},
    Locale{0x0450, "mn-MN", "Mongolian (Cyrillic, Mongolia)"},
    Locale{0x0452, "cy-GB", "Welsh (United Kingdom)"},
    Locale{0x045E, "am-ET", "Amharic (Ethiopia)"},
    Locale{0x0462, "fy-NL", "Frisian (Netherlands)"},
    Locale{0x046E, "lb-LU", "Luxembourgish (Luxembourg)"},
    Locale{0x0481, "mi-NZ", "Maori (New Zealand)"},
    Locale{0x0483, "co-FR", "Corsican (France)"},
    Locale{0x0804, "zh-CN", "Chinese (Simplified, PRC)"},
    Locale{0x0807, "de-CH", "German (Switzerland)"},
    Locale{0x0809, "en-GB", "English (United Kingdom)"},
    Locale{0x080A, "es-MX", "Spanish (Mexico)"},
    Locale{0x080C, "fr-BE", "French (Belgium)"},
    Locale{0x0810, "it-CH", "Italian (Switzerland)"},
    Locale{0x0813, "nl-BE", "Dutch (Belgium)"},
    Locale{0x0814, "nn-NO", "Norwegian, Nynorsk (Norway)"},
    Locale{0x0816, "pt-PT", "Portuguese (Portugal)"},
    Locale{0x081A, "sr-Latn-CS", "Serbian (Latin, Serbia and Montenegro (Former))"},
    Locale{0x083B, "se-SE", "Sami, Northern (Sweden)"},
    Locale{0x083C, "ga-IE", "Irish (Ireland)"},
    Locale{0x0C07, "de-AT", "German (Austria)"},
    Locale{0x0C09, "en-AU", "English (Australia)"},
    Locale{0x0C0A, "es-ES", "Spanish (Spain, International Sort)"},
    Locale{0x0C0C, "fr-CA", "French (Canada)"},
    Locale{0x0C1A, "sr-Cyrl-CS", "Serbian (Cyrillic, Serbia and Montenegro (Former))"},
    Locale{0x1009, "en-CA", "English (Canada)"},
    Locale{0x100C, "fr-CH", "French (Switzerland)"},
    Locale{0x1409, "en-NZ", "English (New Zealand)"},
    Locale{0x1809, "en-IE", "English (Ireland)"},
    Locale{0x4009, "en-IN", "English (India)"},
};

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::optional<Locale> localeById(uint32_t id) {
    for (const auto& l : kLocales)
        if (l.id == id) return l;
    return std::nullopt;
}

std::optional<Locale> localeByName(std::string_view name) {
    for (const auto& l : kLocales)
        if (equalIgnoringCase(l.name, name)) return l;
    return std::nullopt;
}

}  // namespace kbd
