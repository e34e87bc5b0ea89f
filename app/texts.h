// Every text the player reads, by name: the status headlines and second lines,
// the questions, the captions of the buttons, bars and windows. A change of
// wording or a translation touches this file only.
#pragma once
#include <cstdint>

#include "app/text.h"

// --- Status, while a task starts and ends
inline constexpr char16_t kTextConnecting[] = u"Conectando ao servidor...";
inline constexpr char16_t kTextReady[] = u"Pronto. Escolha o client para jogar.";
inline constexpr char16_t kTextTaskNotStarted[] = u"Não foi possível iniciar a tarefa.";
inline constexpr char16_t kTextCancelling[] = u"Cancelando...";
inline constexpr char16_t kTextCancelled[] = u"Cancelado.";
inline constexpr char16_t kTextCancelledResumable[] = u"Cancelado. O download continua de onde parou.";
inline constexpr char16_t kTextAllFilesCurrent[] = u"Tudo certo! Os arquivos estão em dia.";
inline constexpr char16_t kTextNoClientInstalled[] = u"Nenhum client instalado. Escolha um para instalar.";

// --- The file host out of reach: the headline, then the second line of a check
// at start and that of a task that needs the host
inline constexpr char16_t kTextNoConnection[] = u"Sem conexão com o servidor de arquivos.";
inline constexpr char16_t kTextInstalledStillOpen[] = u"Você ainda pode abrir um client já instalado.";
inline constexpr char16_t kTextCheckInternet[] = u"Confira sua internet e tente de novo.";

// --- Failed downloads and writes (headline, second line)
inline constexpr char16_t kTextDownloadFailed[] = u"Falha ao baixar os arquivos.";
inline constexpr char16_t kTextCheckConnection[] = u"Confira sua conexão e tente de novo.";
inline constexpr char16_t kTextWriteFailed[] = u"Não foi possível gravar os arquivos.";
inline constexpr char16_t kTextCheckDiskAndAntivirus[] = u"Confira o espaço em disco e o antivírus.";
inline constexpr char16_t kTextCloseOpenClient[] = u"Feche o client aberto e tente de novo.";  // + the file
inline constexpr char16_t kTextNoDiskSpace[] = u"Sem espaço em disco.";                      // + TextSpaceNeeded

// --- A client that does not start (headline, second line)
inline constexpr char16_t kTextClientNotOpened[] = u"Não foi possível abrir o client.";
inline constexpr char16_t kTextAntivirusHint[] = u"O antivírus pode ter bloqueado. Use Verificar arquivos.";

// --- The launcher's own update
inline constexpr char16_t kTextUpdatingLauncher[] = u"Atualizando o launcher...";
inline constexpr char16_t kTextLauncherUpdated[] = u"Launcher atualizado. Reabrindo...";
inline constexpr char16_t kTextNewLauncherVersion[] = u"Há uma nova versão do launcher.";

// --- Questions (Yes/No boxes)
inline constexpr char16_t kTextAskOpenDownloadPage[] =
    u"Há uma nova versão do launcher. Abrir a página de download?";
inline constexpr char16_t kTextAskOpenClientAnyway[] =
    u"Não foi possível conferir atualizações. Abrir o client mesmo assim?";

// --- Captions: the window and its boxes, the buttons, the bars. The client
// buttons' first lines are the clients' labels (app/client_table.h).
inline constexpr char16_t kTextLauncherName[] = u"Morvel Global Launcher";  // window, boxes, shortcut
inline constexpr char16_t kTextPlay[] = u"Jogar";
inline constexpr char16_t kTextInstallAndPlay[] = u"Instalar e jogar";
inline constexpr char16_t kTextVerifyFiles[] = u"Verificar arquivos";
inline constexpr char16_t kTextCancel[] = u"Cancelar";
inline constexpr char16_t kTextExit[] = u"Sair";
inline constexpr char16_t kTextFileBar[] = u"Arquivo";
inline constexpr char16_t kTextTotalBar[] = u"Total";

// --- Texts around a name or a number: the headline of a client's start, of a
// file's download, of the check pass (the file's number from 1 and the count),
// the second line of kTextNoDiskSpace and the amounts under the bars (each
// amount as FormatMegabytes writes it)
inline WideString TextOpening(const WideString& client_label) { return u"Abrindo " + client_label + u"..."; }
inline WideString TextDownloading(const WideString& path) { return u"Baixando " + path; }
inline WideString TextCheckingFiles(uint64_t number, uint64_t count) {
  return u"Conferindo arquivos (" + DecimalText(number) + u" de " + DecimalText(count) + u")...";
}
inline WideString TextSpaceNeeded(const WideString& amount) { return u"São necessários " + amount + u"."; }
inline WideString TextAmountOfTotal(const WideString& amount, const WideString& total) {
  return amount + u" de " + total;
}
