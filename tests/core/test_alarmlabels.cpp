#include "core/AlarmLabels.h"
#include "core/Globali.h"

#include <gtest/gtest.h>

TEST(ShortPathForm, FilesKeepTheirNameAndFoldersTheirLastFolder) {
    EXPECT_EQ(ShortPathForm("/usr/share/oculara/Suoni/DefaultAlarm.wav", false), "/../DefaultAlarm.wav");
    EXPECT_EQ(ShortPathForm("/home/anna/Documenti/Foto/", true), "/../Foto");
    // A hand-edited folder without its trailing "/" keeps its whole name.
    EXPECT_EQ(ShortPathForm("/home/anna/Foto", true), "/../Foto");
    EXPECT_EQ(ShortPathForm("relativo/allarme.sh", false), "r/../allarme.sh");
    EXPECT_EQ(ShortPathForm("/", true), "/../");
    EXPECT_EQ(ShortPathForm("", false), "");
}

TEST(ComposeAlarmLabels, EveryCaptionHasItsPrefix) {
    TSettings s;
    s.FileAudio = "/p/Suoni/DefaultAlarm.wav";
    s.Mail_Indirizzo = "anna@example.invalid";
    s.File_Nome = "/usr/local/bin/sirena";
    const AlarmLabelTexts t = ComposeAlarmLabels(s);
    EXPECT_EQ(t.Label8, "Allarme sonoro: /../DefaultAlarm.wav");
    EXPECT_EQ(t.Label13, "Notifica tramite SMS, numero: ");
    EXPECT_EQ(t.Label9, "Notifica tramite posta elettronica, e-mail: anna@example.invalid");
    EXPECT_EQ(t.Label11, "Registrazione audio/video, cartella ");
    EXPECT_EQ(t.Label12, "Scatta una foto, cartella ");
    EXPECT_EQ(t.Label10, "Esegui questo file: /../sirena");
}

TEST(ComposeAlarmCaptions, SplitEachCaptionIntoItsPrefixAndItsValue) {
    TSettings s;
    s.FileAudio = "/p/Suoni/DefaultAlarm.wav";
    s.SMS_NumeroCellulare = "+393331234567";
    s.Mail_Indirizzo = "mario.rossi.molto.lungo@esempio-di-dominio.it";
    s.RegAvi_Dir = "/home/mario/Video/";
    s.Foto_Dir = "";
    const auto c = ComposeAlarmCaptions(s);
    EXPECT_EQ(c[0].prefix, "Allarme sonoro: ");
    EXPECT_EQ(c[0].value, "/../DefaultAlarm.wav");
    EXPECT_EQ(c[1].value, "+393331234567");
    EXPECT_EQ(c[2].prefix, "Notifica tramite posta elettronica, e-mail: ");
    EXPECT_EQ(c[2].value, "mario.rossi.molto.lungo@esempio-di-dominio.it");
    EXPECT_EQ(c[3].value, "/../Video");
    EXPECT_EQ(c[4].Whole(), "Scatta una foto, cartella ");
    EXPECT_EQ(c[5].Whole(), "Esegui questo file: ");

    // The one-piece texts are the same captions.
    const AlarmLabelTexts t = ComposeAlarmLabels(s);
    EXPECT_EQ(t.Label8, c[0].Whole());
    EXPECT_EQ(t.Label13, c[1].Whole());
    EXPECT_EQ(t.Label9, c[2].Whole());
    EXPECT_EQ(t.Label11, c[3].Whole());
    EXPECT_EQ(t.Label12, c[4].Whole());
    EXPECT_EQ(t.Label10, c[5].Whole());
}
