// The alarm configuration's "Applica" walk and how Settings fill its fields.

#include "dialogs/CfgAllarmi.h"

#include <gtest/gtest.h>

namespace {

using dialogs::ApplicaCampi;
using dialogs::CfgAllarmiFields;
using dialogs::FieldsFromSettings;

const char* const kM0 = "Il numero di minuti non è valido.\nInserire un numero compreso tra 0 e 1440.";
const char* const kPorta = "Il numero di porta non è valido.\nInserire un numero compreso tra 1 e 65535.";

// Fields that pass every check, different from the defaults of TSettings.
CfgAllarmiFields GoodFields() {
    CfgAllarmiFields f;
    f.Label2 = "/suoni/sirena.wav";
    f.Edit1 = "12";
    f.Edit2 = " 3331234567 ";
    f.Edit5 = "7";
    f.Edit3 = "\tmario ";
    f.Edit4 = " segreta";
    f.Edit6 = " mario@example.invalid ";
    f.CheckBox1 = false;
    f.Edit7 = "9";
    f.Edit8 = " smtp.example.invalid";
    f.Edit13 = "587";
    f.ComboBox4 = 1;
    f.Edit14 = " mario@example.invalid\t";
    f.Edit15 = " chiave ";
    f.Label18 = "/home/mario/Video";
    f.CheckBox2 = false;
    f.CheckBox3 = true;
    f.Edit10 = "20";
    f.Edit9 = "11";
    f.CheckBox4 = false;
    f.CheckBox5 = true;
    f.ComboBox1 = "";
    f.ComboBox2 = "Codificatore audio";
    f.Label24 = "/home/mario/Foto";
    f.ComboBox3 = 1;
    f.Edit11 = "13";
    f.Label30 = "/usr/bin/true";
    f.Edit12 = "14";
    return f;
}

TEST(CfgAllarmiWalk, AllFieldsPassedAreStoredTrimmedWithTheirFolderSlash) {
    TSettings s;
    CfgAllarmiFields f = GoodFields();
    EXPECT_FALSE(ApplicaCampi(f, s));
    EXPECT_EQ(s.FileAudio, "/suoni/sirena.wav");
    EXPECT_EQ(s.DuarataAllarmeSonoro, 12);
    EXPECT_EQ(s.SMS_NumeroCellulare, "3331234567");
    EXPECT_EQ(s.SMS_MaxUnoOgni, 7);
    EXPECT_EQ(s.SMS_UserName, "mario");
    EXPECT_EQ(s.SMS_Password, "segreta");
    EXPECT_EQ(s.Mail_Indirizzo, "mario@example.invalid");
    EXPECT_FALSE(s.Mail_AllegaFoto);
    EXPECT_EQ(s.Mail_MaxUnoOgni, 9);
    EXPECT_EQ(s.Mail_ServerSMTP, "smtp.example.invalid");
    EXPECT_EQ(s.Mail_Porta, 587);
    EXPECT_EQ(s.Mail_Sicurezza, MailStartTls);
    EXPECT_EQ(s.Mail_Utente, "mario@example.invalid");
    EXPECT_EQ(s.Mail_PasswordSMTP, "chiave");
    EXPECT_EQ(s.RegAvi_Dir, "/home/mario/Video/");
    EXPECT_FALSE(s.RegAvi_RegistraVideo);
    EXPECT_TRUE(s.RegAvi_RegistraAudio);
    EXPECT_EQ(s.RegAvi_DurataRegistrazione, 20);
    EXPECT_EQ(s.RegAvi_MaxUnoOgni, 11);
    EXPECT_FALSE(s.RegAvi_UsaCodecVideo);
    EXPECT_TRUE(s.RegAvi_UsaCodecAudio);
    EXPECT_EQ(s.RegAvi_NomeCodecVideo, "");
    EXPECT_EQ(s.RegAvi_NomeCodecAudio, "Codificatore audio");
    EXPECT_EQ(s.Foto_Dir, "/home/mario/Foto/");
    EXPECT_EQ(s.Foto_Formato, 1);
    EXPECT_EQ(s.Foto_MaxUnoOgni, 13);
    EXPECT_EQ(s.File_Nome, "/usr/bin/true");
    EXPECT_EQ(s.File_MaxUnoOgni, 14);
}

TEST(CfgAllarmiWalk, EachCheckFailsOnItsPageWithItsMessage) {
    struct Case {
        std::string CfgAllarmiFields::*field;
        std::string text;
        int page;
        const char* name;
        std::string message;
    };
    const Case cases[] = {
        {&CfgAllarmiFields::Edit1, "0", 0, "Edit1", "Il numero di secondi non è valido."},
        {&CfgAllarmiFields::Edit1, "", 0, "Edit1", "Il numero di secondi non è valido."},
        {&CfgAllarmiFields::Edit5, "0", 1, "Edit5",
         "Il numero di minuti non è valido.\nInserire un numero compreso tra 1 e 1440."},
        {&CfgAllarmiFields::Edit5, "1441", 1, "Edit5",
         "Il numero di minuti non è valido.\nInserire un numero compreso tra 1 e 1440."},
        {&CfgAllarmiFields::Edit7, "1441", 2, "Edit7", kM0},
        {&CfgAllarmiFields::Edit13, "0", 2, "Edit13", kPorta},
        {&CfgAllarmiFields::Edit13, "65536", 2, "Edit13", kPorta},
        {&CfgAllarmiFields::Edit13, "abc", 2, "Edit13", kPorta},
        {&CfgAllarmiFields::Edit10, "0", 3, "Edit10",
         "La durata della registrazione non è valida.\nInserire un numero compreso tra 1 e 99999."},
        {&CfgAllarmiFields::Edit9, "1441", 3, "Edit9", kM0},
        {&CfgAllarmiFields::Edit11, "1441", 4, "Edit11", kM0},
        {&CfgAllarmiFields::Edit12, "1441", 5, "Edit12", kM0},
    };
    for (const Case& c : cases) {
        TSettings s;
        CfgAllarmiFields f = GoodFields();
        f.*c.field = c.text;
        const auto failure = ApplicaCampi(f, s);
        ASSERT_TRUE(failure) << c.name << "=" << c.text;
        EXPECT_EQ(failure->page, c.page) << c.name;
        EXPECT_STREQ(failure->field, c.name);
        EXPECT_EQ(failure->message, c.message) << c.name;
    }
}

TEST(CfgAllarmiWalk, EmptyDigitFieldsTakeTheirDefaultsFirst) {
    TSettings s;
    CfgAllarmiFields f = GoodFields();
    f.Edit5 = "";
    f.Edit7 = "0";
    f.Edit13 = "";
    f.Edit9 = "";
    f.Edit11 = "";
    f.Edit12 = "";
    EXPECT_FALSE(ApplicaCampi(f, s));
    EXPECT_EQ(f.Edit5, "1");
    EXPECT_EQ(s.SMS_MaxUnoOgni, 1);
    EXPECT_EQ(s.Mail_MaxUnoOgni, 0);
    EXPECT_EQ(f.Edit13, "25");
    EXPECT_EQ(s.Mail_Porta, 25);
    EXPECT_EQ(f.Edit9, "0");
    EXPECT_EQ(s.RegAvi_MaxUnoOgni, 0);
    EXPECT_EQ(s.Foto_MaxUnoOgni, 0);
    EXPECT_EQ(s.File_MaxUnoOgni, 0);

    // The recording length defaults to 0 too, which its own check refuses.
    f.Edit10 = "";
    const auto failure = ApplicaCampi(f, s);
    ASSERT_TRUE(failure);
    EXPECT_STREQ(failure->field, "Edit10");
    EXPECT_EQ(f.Edit10, "0");
}

TEST(CfgAllarmiWalk, AFailureKeepsWhatWasStoredBeforeItAndNothingAfter) {
    TSettings s;
    const TSettings before;
    CfgAllarmiFields f = GoodFields();
    f.Edit9 = "1441";
    const auto failure = ApplicaCampi(f, s);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->page, 3);
    EXPECT_EQ(failure->message, kM0);
    // Pages 0 to 2 and the recording fields ahead of Edit9.
    EXPECT_EQ(s.DuarataAllarmeSonoro, 12);
    EXPECT_EQ(s.SMS_UserName, "mario");
    EXPECT_EQ(s.SMS_Password, "segreta");
    EXPECT_EQ(s.Mail_ServerSMTP, "smtp.example.invalid");
    EXPECT_EQ(s.RegAvi_Dir, "/home/mario/Video/");
    EXPECT_EQ(s.RegAvi_DurataRegistrazione, 20);
    // Edit9 itself and everything after it.
    EXPECT_EQ(s.RegAvi_MaxUnoOgni, before.RegAvi_MaxUnoOgni);
    EXPECT_EQ(s.RegAvi_UsaCodecAudio, before.RegAvi_UsaCodecAudio);
    EXPECT_EQ(s.Foto_Dir, before.Foto_Dir);
    EXPECT_EQ(s.File_Nome, before.File_Nome);
}

TEST(CfgAllarmiFolders, LabelsDropTheFinalSlashAndStoringPutsItBack) {
    EXPECT_EQ(dialogs::FolderForLabel("/home/mario/Video/"), "/home/mario/Video");
    EXPECT_EQ(dialogs::FolderForLabel("/home/mario/Video"), "/home/mario/Video");
    EXPECT_EQ(dialogs::FolderForLabel("/"), "/");
    EXPECT_EQ(dialogs::FolderForLabel(""), "");
    EXPECT_EQ(dialogs::FolderForSettings("/home/mario/Video"), "/home/mario/Video/");
    EXPECT_EQ(dialogs::FolderForSettings("/home/mario/Video/"), "/home/mario/Video/");
    EXPECT_EQ(dialogs::FolderForSettings("/"), "/");
}

TEST(CfgAllarmiLoad, SettingsFillTheFieldsAndARoundTripChangesNothing) {
    TSettings s;
    s.RegAvi_Dir = "/srv/video/";
    s.Foto_Dir = "/srv/foto/";
    s.Foto_Formato = 1;
    s.SMS_UserName = "anna";
    s.RegAvi_NomeCodecVideo = "Codificatore video";
    s.Mail_Porta = 465;
    s.Mail_Sicurezza = MailTls;
    s.Mail_PasswordSMTP = "x y";
    CfgAllarmiFields f = FieldsFromSettings(s);
    EXPECT_EQ(f.Label18, "/srv/video");
    EXPECT_EQ(f.Label24, "/srv/foto");
    EXPECT_EQ(f.ComboBox3, 1);
    EXPECT_EQ(f.Edit1, "30");
    EXPECT_EQ(f.ComboBox1, "Codificatore video");

    TSettings stored = s;
    EXPECT_FALSE(ApplicaCampi(f, stored));
    EXPECT_EQ(stored.RegAvi_Dir, s.RegAvi_Dir);
    EXPECT_EQ(stored.Foto_Dir, s.Foto_Dir);
    EXPECT_EQ(stored.SMS_UserName, "anna");
    EXPECT_EQ(stored.DuarataAllarmeSonoro, s.DuarataAllarmeSonoro);
    EXPECT_EQ(stored.RegAvi_NomeCodecVideo, "Codificatore video");
    EXPECT_EQ(stored.Mail_Porta, 465);
    EXPECT_EQ(stored.Mail_Sicurezza, MailTls);
    EXPECT_EQ(stored.Mail_PasswordSMTP, "x y");

    s.Foto_Formato = 2;  // a format the list does not offer: no item, stored back as bitmap
    f = FieldsFromSettings(s);
    EXPECT_EQ(f.ComboBox3, -1);
    EXPECT_FALSE(ApplicaCampi(f, stored));
    EXPECT_EQ(stored.Foto_Formato, 0);

    s.Mail_Sicurezza = 3;  // one the list does not offer: no item, and it stays
    f = FieldsFromSettings(s);
    EXPECT_EQ(f.ComboBox4, -1);
    stored.Mail_Sicurezza = 3;
    EXPECT_FALSE(ApplicaCampi(f, stored));
    EXPECT_EQ(stored.Mail_Sicurezza, 3);
}

TEST(CfgAllarmiLoad, AtLeastOneRecordingBoxIsTickedVideoFirst) {
    TSettings s;
    const std::pair<bool, bool> cases[][2] = {
        {{false, false}, {true, false}},
        {{true, false}, {true, false}},
        {{false, true}, {false, true}},
        {{true, true}, {true, true}},
    };
    for (const auto& c : cases) {
        s.RegAvi_RegistraVideo = c[0].first;
        s.RegAvi_RegistraAudio = c[0].second;
        const CfgAllarmiFields f = FieldsFromSettings(s);
        EXPECT_EQ(f.CheckBox2, c[1].first) << c[0].first << c[0].second;
        EXPECT_EQ(f.CheckBox3, c[1].second) << c[0].first << c[0].second;
    }
}

}  // namespace
