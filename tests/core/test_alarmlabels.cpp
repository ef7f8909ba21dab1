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
