# -*- coding: utf-8 -*-
"""The texts of uninstall and repair in every locale: the question, the
progress window's texts, the end and failure messages.

They live apart from the installation's catalogues, whose keys and order
belong to the payload: make_catalogues.py writes them as one catalogue per
locale (MaintenanceUIText_<locale>.xml, the same format), which common.cab
carries in uninstallUI beside the maintenance VellumSetup. The caption and
the verifying and fixing texts are the installation's own, copied from
ui_texts, so both builds say the same.

%1 and %2 stand for what the script fills in (a version, a folder, a
count, a reason); a translation may put them in any order.
"""
import ui_texts

# Shared with the installation's catalogues: taken from ui_texts.
SHARED_KEYS = ["loc_UI_Title", "loc_UI_Info_Checking", "loc_UI_Info_Fixing"]

OWN_KEYS = [
    "loc_UI_Uninstall_Progress",
    "loc_UI_Uninstall_Confirm",        # %1 version, %2 folder
    "loc_UI_Uninstall_Done",
    "loc_UI_Uninstall_Done_Kept",      # %1 folder
    "loc_UI_Repair_Done_Nothing",
    "loc_UI_Repair_Done_Fixed",        # %1 count
    "loc_UI_Uninstall_Nothing",        # %1 folder
    "loc_UI_Repair_Nothing",           # %1 folder
    "loc_UI_Maintenance_Busy",         # %1 folder
    "loc_UI_Error_SetupStart",         # %1 reason
    "loc_UI_Uninstall_Error_Missing",  # %1 file
    "loc_UI_Repair_Error_Missing",     # %1 file
    "loc_UI_Uninstall_Error_Files",    # %1 the file and why
    "loc_UI_Repair_Error_Cabinet",     # %1 cabinet, %2 reason
    "loc_UI_Repair_Error_Restore",     # %1 file, %2 reason
    "loc_UI_Uninstall_Error",          # %1 reason
    "loc_UI_Repair_Error",             # %1 reason
    "loc_UI_Maintenance_Untrusted",    # %1 the manifest, %2 why
    "loc_UI_Maintenance_Link",         # %1 the link
    # Refusals at the start and failures of steps that uninstall and repair
    # share with the installation (which shows these in English).
    "loc_UI_Uninstall_NotInstalled",
    "loc_UI_Repair_NotInstalled",
    "loc_UI_Maintenance_EntryFolder",  # %1 the entry's folder value
    "loc_UI_Uninstall_Error_Copy",     # %1 folder, %2 reason
    "loc_UI_Repair_Error_Copy",        # %1 folder, %2 reason
    "loc_UI_Maintenance_Running",
    "loc_UI_Error_LockInTheWay",       # %1 lock file
    "loc_UI_Error_Lock",               # %1 lock file, %2 reason
    "loc_UI_Error_EntryWrite",         # %1 value name, %2 reason
    "loc_UI_Error_EntryReadBack",      # %1 value name
    "loc_UI_Uninstall_Error_Entry",    # %1 registry key
    "loc_UI_Error_Log",                # %1 log file
    "loc_UI_Error_KeptCopy",
    "loc_UI_Error_Register",           # %1 exit code
    "loc_UI_Error_Journal",            # %1 reason
    "loc_UI_Error_FolderLink",         # %1 folder, %2 the link
]

KEYS = SHARED_KEYS + OWN_KEYS

EN_US = [
    "Please wait while Quillfeather is being uninstalled...",
    "Do you want to remove Quillfeather (version %1) from %2? Files you added to the folder are kept.",
    "Quillfeather was removed from your computer.",
    "Quillfeather was removed from your computer. (%1 kept: it holds files added to it)",
    "Quillfeather was repaired: nothing needed fixing.",
    "Quillfeather was repaired: %1 files restored.",
    "Quillfeather is not installed in %1: there is nothing to remove.",
    "Quillfeather is not installed in %1: there is nothing to repair.",
    "Another Quillfeather installation, uninstall or repair is working in %1. Wait until it has ended, then try again.",
    "The setup program could not be started (%1).",
    "The uninstall cannot start: %1 is missing. Run the Quillfeather installer again to repair the installation.",
    "The repair cannot start: %1 is missing. Run the Quillfeather installer again to repair the installation.",
    "Quillfeather could not be removed completely: %1 could not be deleted. Close the programs that use it and uninstall again; the entry in Add or Remove Programs still works.",
    "Quillfeather cannot be repaired: the cabinet %1 kept for repairs cannot be used (%2). Run the Quillfeather installer again.",
    "Quillfeather could not be repaired: %1 could not be restored (%2).",
    "The uninstall failed (%1).",
    "The repair failed (%1).",
    "The list of installed files in %1 cannot be trusted: %2. Nothing was changed. Run the Quillfeather installer to install again into an empty folder, or remove the folder yourself.",
    "%1 is a link to another place: Quillfeather acts on nothing through it. Nothing was changed. Remove the link, then try again.",
]

DA_DK = [
    "Vent, mens Quillfeather fjernes...",
    "Vil du fjerne Quillfeather (version %1) fra %2? Filer, som du selv har føjet til mappen, bevares.",
    "Quillfeather er fjernet fra computeren.",
    "Quillfeather er fjernet fra computeren. (%1 bevares, fordi mappen indeholder filer, der er føjet til den)",
    "Quillfeather er repareret. Der var intet at rette.",
    "Quillfeather er repareret. %1 filer er gendannet.",
    "Quillfeather er ikke installeret i %1. Der er intet at fjerne.",
    "Quillfeather er ikke installeret i %1. Der er intet at reparere.",
    "En anden installation, fjernelse eller reparation af Quillfeather er i gang i %1. Vent, til den er færdig, og prøv derefter igen.",
    "Installationsprogrammet kunne ikke startes (%1).",
    "Fjernelsen kan ikke starte: %1 mangler. Kør installationsprogrammet til Quillfeather igen for at reparere installationen.",
    "Reparationen kan ikke starte: %1 mangler. Kør installationsprogrammet til Quillfeather igen for at reparere installationen.",
    "Quillfeather kunne ikke fjernes helt: %1 kunne ikke slettes. Luk de programmer, der bruger filen, og fjern Quillfeather igen. Posten i Tilføj eller fjern programmer virker stadig.",
    "Quillfeather kan ikke repareres: Kabinetfilen %1, der gemmes til reparationer, kan ikke bruges (%2). Kør installationsprogrammet til Quillfeather igen.",
    "Quillfeather kunne ikke repareres: %1 kunne ikke gendannes (%2).",
    "Fjernelsen mislykkedes (%1).",
    "Reparationen mislykkedes (%1).",
    "Listen over installerede filer i %1 er ikke til at stole på: %2. Intet blev ændret. Kør installationsprogrammet til Quillfeather for at installere igen i en tom mappe, eller fjern selv mappen.",
    "%1 er et link til et andet sted: Quillfeather ændrer intet gennem det. Intet blev ændret. Fjern linket, og prøv igen.",
]

DE_DE = [
    "Bitte warten Sie, während Quillfeather deinstalliert wird...",
    "Möchten Sie Quillfeather (Version %1) aus %2 entfernen? Dateien, die Sie dem Ordner hinzugefügt haben, bleiben erhalten.",
    "Quillfeather wurde vom Computer entfernt.",
    "Quillfeather wurde vom Computer entfernt. (%1 bleibt erhalten, da der Ordner hinzugefügte Dateien enthält.)",
    "Quillfeather wurde repariert. Es musste nichts behoben werden.",
    "Quillfeather wurde repariert. %1 Dateien wurden wiederhergestellt.",
    "Quillfeather ist nicht in %1 installiert. Es gibt nichts zu entfernen.",
    "Quillfeather ist nicht in %1 installiert. Es gibt nichts zu reparieren.",
    "In %1 wird bereits eine andere Installation, Deinstallation oder Reparatur von Quillfeather ausgeführt. Warten Sie, bis sie beendet ist, und versuchen Sie es dann erneut.",
    "Das Setupprogramm konnte nicht gestartet werden (%1).",
    "Die Deinstallation kann nicht gestartet werden: %1 fehlt. Führen Sie das Quillfeather-Installationsprogramm erneut aus, um die Installation zu reparieren.",
    "Die Reparatur kann nicht gestartet werden: %1 fehlt. Führen Sie das Quillfeather-Installationsprogramm erneut aus, um die Installation zu reparieren.",
    "Quillfeather konnte nicht vollständig entfernt werden: %1 konnte nicht gelöscht werden. Schließen Sie die Programme, die diese Datei verwenden, und deinstallieren Sie Quillfeather erneut. Der Eintrag unter Software funktioniert weiterhin.",
    "Quillfeather kann nicht repariert werden: Die für Reparaturen aufbewahrte CAB-Datei %1 kann nicht verwendet werden (%2). Führen Sie das Quillfeather-Installationsprogramm erneut aus.",
    "Quillfeather konnte nicht repariert werden: %1 konnte nicht wiederhergestellt werden (%2).",
    "Die Deinstallation ist fehlgeschlagen (%1).",
    "Die Reparatur ist fehlgeschlagen (%1).",
    "Der Liste der installierten Dateien in %1 kann nicht vertraut werden: %2. Es wurde nichts geändert. Führen Sie das Quillfeather-Installationsprogramm aus, um erneut in einen leeren Ordner zu installieren, oder entfernen Sie den Ordner selbst.",
    "%1 ist eine Verknüpfung zu einem anderen Ort: Quillfeather ändert nichts darüber. Es wurde nichts geändert. Entfernen Sie die Verknüpfung, und versuchen Sie es erneut.",
]

ES_ES = [
    "Espere mientras se desinstala Quillfeather...",
    "¿Desea quitar Quillfeather (versión %1) de %2? Los archivos que haya agregado a la carpeta se conservarán.",
    "Quillfeather se ha quitado del equipo.",
    "Quillfeather se ha quitado del equipo. (Se conserva %1 porque contiene archivos agregados)",
    "Quillfeather se ha reparado: no era necesario corregir nada.",
    "Quillfeather se ha reparado: se han restaurado %1 archivos.",
    "Quillfeather no está instalado en %1: no hay nada que quitar.",
    "Quillfeather no está instalado en %1: no hay nada que reparar.",
    "Hay otra instalación, desinstalación o reparación de Quillfeather en curso en %1. Espere a que termine y vuelva a intentarlo.",
    "No se pudo iniciar el programa de instalación (%1).",
    "No se puede iniciar la desinstalación: falta %1. Vuelva a ejecutar el instalador de Quillfeather para reparar la instalación.",
    "No se puede iniciar la reparación: falta %1. Vuelva a ejecutar el instalador de Quillfeather para reparar la instalación.",
    "Quillfeather no se pudo quitar por completo: no se pudo eliminar %1. Cierre los programas que lo usan y vuelva a desinstalarlo; la entrada de Agregar o quitar programas sigue funcionando.",
    "Quillfeather no se puede reparar: no se puede usar el archivo .cab %1 guardado para reparaciones (%2). Vuelva a ejecutar el instalador de Quillfeather.",
    "Quillfeather no se pudo reparar: no se pudo restaurar %1 (%2).",
    "Error en la desinstalación (%1).",
    "Error en la reparación (%1).",
    "No se puede confiar en la lista de archivos instalados de %1: %2. No se ha cambiado nada. Ejecute el instalador de Quillfeather para volver a instalarlo en una carpeta vacía o quite la carpeta usted mismo.",
    "%1 es un vínculo a otra ubicación: Quillfeather no modifica nada a través de él. No se ha cambiado nada. Quite el vínculo y vuelva a intentarlo.",
]

ES_MX = [
    "Espere mientras se desinstala Quillfeather...",
    "¿Desea quitar Quillfeather (versión %1) de %2? Los archivos que agregó a la carpeta se conservarán.",
    "Quillfeather se quitó de su computadora.",
    "Quillfeather se quitó de su computadora. (%1 se conservó porque contiene archivos que se agregaron)",
    "Quillfeather se reparó: no fue necesario corregir nada.",
    "Quillfeather se reparó: se restauraron %1 archivos.",
    "Quillfeather no está instalado en %1: no hay nada que quitar.",
    "Quillfeather no está instalado en %1: no hay nada que reparar.",
    "Otra instalación, desinstalación o reparación de Quillfeather se está ejecutando en %1. Espere a que termine e inténtelo nuevamente.",
    "No se pudo iniciar el programa de instalación (%1).",
    "No se puede iniciar la desinstalación: falta %1. Ejecute nuevamente el instalador de Quillfeather para reparar la instalación.",
    "No se puede iniciar la reparación: falta %1. Ejecute nuevamente el instalador de Quillfeather para reparar la instalación.",
    "Quillfeather no se pudo quitar por completo: no se pudo eliminar %1. Cierre los programas que lo estén usando y desinstálelo nuevamente; la entrada de Agregar o quitar programas sigue funcionando.",
    "Quillfeather no se puede reparar: no se puede usar el archivo .cab %1 guardado para reparaciones (%2). Ejecute nuevamente el instalador de Quillfeather.",
    "Quillfeather no se pudo reparar: no se pudo restaurar %1 (%2).",
    "No se pudo completar la desinstalación (%1).",
    "No se pudo completar la reparación (%1).",
    "No se puede confiar en la lista de archivos instalados de %1: %2. No se cambió nada. Ejecute el instalador de Quillfeather para instalarlo nuevamente en una carpeta vacía o quite la carpeta usted mismo.",
    "%1 es un vínculo a otra ubicación: Quillfeather no modifica nada a través de él. No se cambió nada. Quite el vínculo e inténtelo nuevamente.",
]

FI_FI = [
    "Odota, Quillfeatheria poistetaan...",
    "Haluatko poistaa Quillfeatherin (versio %1) kansiosta %2? Kansioon itse lisäämäsi tiedostot säilytetään.",
    "Quillfeather on poistettu tietokoneesta.",
    "Quillfeather on poistettu tietokoneesta. (%1 säilytettiin, koska siinä on siihen lisättyjä tiedostoja)",
    "Quillfeather on korjattu. Mitään ei tarvinnut korjata.",
    "Quillfeather on korjattu. %1 tiedostoa palautettiin.",
    "Quillfeatheria ei ole asennettu kansioon %1, joten poistettavaa ei ole.",
    "Quillfeatheria ei ole asennettu kansioon %1, joten korjattavaa ei ole.",
    "Kansiossa %1 on käynnissä toinen Quillfeatherin asennus, poisto tai korjaus. Odota, kunnes se on päättynyt, ja yritä sitten uudelleen.",
    "Asennusohjelmaa ei voitu käynnistää (%1).",
    "Poistoa ei voi aloittaa: %1 puuttuu. Korjaa asennus suorittamalla Quillfeatherin asennusohjelma uudelleen.",
    "Korjausta ei voi aloittaa: %1 puuttuu. Korjaa asennus suorittamalla Quillfeatherin asennusohjelma uudelleen.",
    "Quillfeatheria ei voitu poistaa kokonaan: tiedostoa %1 ei voitu poistaa. Sulje ohjelmat, jotka käyttävät sitä, ja poista Quillfeather uudelleen. Merkintä kohdassa Lisää tai poista sovellus toimii edelleen.",
    "Quillfeatheria ei voi korjata: korjauksia varten säilytettyä CAB-tiedostoa %1 ei voi käyttää (%2). Suorita Quillfeatherin asennusohjelma uudelleen.",
    "Quillfeatheria ei voitu korjata: tiedostoa %1 ei voitu palauttaa (%2).",
    "Poisto epäonnistui (%1).",
    "Korjaus epäonnistui (%1).",
    "Kansion %1 asennettujen tiedostojen luetteloon ei voi luottaa: %2. Mitään ei muutettu. Asenna uudelleen tyhjään kansioon suorittamalla Quillfeatherin asennusohjelma tai poista kansio itse.",
    "%1 on linkki toiseen sijaintiin: Quillfeather ei muuta mitään sen kautta. Mitään ei muutettu. Poista linkki ja yritä uudelleen.",
]

FR_FR = [
    "Veuillez patienter pendant la désinstallation de Quillfeather...",
    "Voulez-vous supprimer Quillfeather (version %1) de %2 ? Les fichiers que vous avez ajoutés au dossier seront conservés.",
    "Quillfeather a été supprimé de votre ordinateur.",
    "Quillfeather a été supprimé de votre ordinateur. (%1 a été conservé, car il contient des fichiers ajoutés)",
    "Quillfeather a été réparé : aucune correction n'était nécessaire.",
    "Quillfeather a été réparé : %1 fichiers ont été restaurés.",
    "Quillfeather n'est pas installé dans %1 : il n'y a rien à supprimer.",
    "Quillfeather n'est pas installé dans %1 : il n'y a rien à réparer.",
    "Une autre installation, désinstallation ou réparation de Quillfeather est en cours dans %1. Attendez qu'elle soit terminée, puis réessayez.",
    "Le programme d'installation n'a pas pu être démarré (%1).",
    "Impossible de démarrer la désinstallation : %1 est introuvable. Exécutez de nouveau le programme d'installation de Quillfeather pour réparer l'installation.",
    "Impossible de démarrer la réparation : %1 est introuvable. Exécutez de nouveau le programme d'installation de Quillfeather pour réparer l'installation.",
    "Quillfeather n'a pas pu être entièrement supprimé : %1 n'a pas pu être effacé. Fermez les programmes qui l'utilisent, puis relancez la désinstallation ; l'entrée dans Ajout/Suppression de programmes fonctionne toujours.",
    "Impossible de réparer Quillfeather : le fichier CAB %1 conservé pour les réparations est inutilisable (%2). Exécutez de nouveau le programme d'installation de Quillfeather.",
    "Quillfeather n'a pas pu être réparé : %1 n'a pas pu être restauré (%2).",
    "La désinstallation a échoué (%1).",
    "La réparation a échoué (%1).",
    "La liste des fichiers installés dans %1 n'est pas fiable : %2. Rien n'a été modifié. Exécutez le programme d'installation de Quillfeather pour réinstaller dans un dossier vide, ou supprimez vous-même le dossier.",
    "%1 est un lien vers un autre emplacement : Quillfeather ne modifie rien par son intermédiaire. Rien n'a été modifié. Supprimez le lien, puis réessayez.",
]

FR_CA = [
    "Veuillez patienter pendant la désinstallation de Quillfeather...",
    "Voulez-vous supprimer Quillfeather (version %1) de %2? Les fichiers que vous avez ajoutés au dossier seront conservés.",
    "Quillfeather a été supprimé de votre ordinateur.",
    "Quillfeather a été supprimé de votre ordinateur. (%1 a été conservé, car il contient des fichiers ajoutés)",
    "Quillfeather a été réparé : aucune correction n'était nécessaire.",
    "Quillfeather a été réparé : %1 fichiers ont été rétablis.",
    "Quillfeather n'est pas installé dans %1 : il n'y a rien à supprimer.",
    "Quillfeather n'est pas installé dans %1 : il n'y a rien à réparer.",
    "Une autre installation, désinstallation ou réparation de Quillfeather est en cours dans %1. Attendez qu'elle soit terminée, puis essayez de nouveau.",
    "Le programme d'installation n'a pas pu être lancé (%1).",
    "Impossible de lancer la désinstallation : %1 est introuvable. Exécutez de nouveau le programme d'installation de Quillfeather pour réparer l'installation.",
    "Impossible de lancer la réparation : %1 est introuvable. Exécutez de nouveau le programme d'installation de Quillfeather pour réparer l'installation.",
    "Quillfeather n'a pas pu être entièrement supprimé : %1 n'a pas pu être effacé. Fermez les programmes qui l'utilisent, puis relancez la désinstallation ; l'entrée dans Ajout/Suppression de programmes fonctionne toujours.",
    "Impossible de réparer Quillfeather : le fichier CAB %1 conservé pour les réparations est inutilisable (%2). Exécutez de nouveau le programme d'installation de Quillfeather.",
    "Quillfeather n'a pas pu être réparé : %1 n'a pas pu être rétabli (%2).",
    "La désinstallation a échoué (%1).",
    "La réparation a échoué (%1).",
    "La liste des fichiers installés dans %1 n'est pas fiable : %2. Rien n'a été modifié. Exécutez le programme d'installation de Quillfeather pour réinstaller dans un dossier vide, ou supprimez vous-même le dossier.",
    "%1 est un lien vers un autre emplacement : Quillfeather ne modifie rien par son intermédiaire. Rien n'a été modifié. Supprimez le lien, puis réessayez.",
]

IT_IT = [
    "Attendere. Disinstallazione di Quillfeather in corso...",
    "Rimuovere Quillfeather (versione %1) da %2? I file aggiunti alla cartella verranno mantenuti.",
    "Quillfeather è stato rimosso dal computer.",
    "Quillfeather è stato rimosso dal computer. (La cartella %1 è stata mantenuta perché contiene file aggiunti)",
    "Quillfeather è stato ripristinato: non è stato necessario correggere nulla.",
    "Quillfeather è stato ripristinato: %1 file recuperati.",
    "Quillfeather non è installato in %1: non c'è nulla da rimuovere.",
    "Quillfeather non è installato in %1: non c'è nulla da ripristinare.",
    "In %1 è in corso un'altra installazione, disinstallazione o riparazione di Quillfeather. Attendere il completamento e riprovare.",
    "Impossibile avviare il programma di installazione (%1).",
    "Impossibile avviare la disinstallazione: %1 non trovato. Eseguire di nuovo il programma di installazione di Quillfeather per ripristinare l'installazione.",
    "Impossibile avviare la riparazione: %1 non trovato. Eseguire di nuovo il programma di installazione di Quillfeather per ripristinare l'installazione.",
    "Impossibile rimuovere completamente Quillfeather: non è stato possibile eliminare %1. Chiudere i programmi che lo utilizzano e ripetere la disinstallazione; la voce in Installazione applicazioni è ancora disponibile.",
    "Impossibile ripristinare Quillfeather: il file CAB %1 conservato per le riparazioni non è utilizzabile (%2). Eseguire di nuovo il programma di installazione di Quillfeather.",
    "Impossibile ripristinare Quillfeather: non è stato possibile recuperare %1 (%2).",
    "Disinstallazione non riuscita (%1).",
    "Riparazione non riuscita (%1).",
    "L'elenco dei file installati in %1 non è attendibile: %2. Non è stato modificato nulla. Eseguire il programma di installazione di Quillfeather per installare di nuovo in una cartella vuota oppure rimuovere manualmente la cartella.",
    "%1 è un collegamento a un altro percorso: Quillfeather non modifica nulla tramite esso. Non è stato modificato nulla. Rimuovere il collegamento e riprovare.",
]

KO_KR = [
    "Quillfeather를 제거하는 동안 기다려 주십시오...",
    "%2에서 Quillfeather(버전 %1)를 제거하시겠습니까? 폴더에 직접 추가한 파일은 그대로 유지됩니다.",
    "Quillfeather가 컴퓨터에서 제거되었습니다.",
    "Quillfeather가 컴퓨터에서 제거되었습니다. (%1에는 추가된 파일이 있으므로 폴더를 유지했습니다.)",
    "Quillfeather를 복구했습니다. 수정할 항목이 없습니다.",
    "Quillfeather를 복구했습니다. 파일 %1개를 복원했습니다.",
    "%1에 Quillfeather가 설치되어 있지 않습니다. 제거할 항목이 없습니다.",
    "%1에 Quillfeather가 설치되어 있지 않습니다. 복구할 항목이 없습니다.",
    "%1에서 다른 Quillfeather 설치, 제거 또는 복구 작업이 진행 중입니다. 작업이 끝날 때까지 기다린 후 다시 시도하십시오.",
    "설치 프로그램을 시작할 수 없습니다(%1).",
    "제거를 시작할 수 없습니다. %1 파일이 없습니다. Quillfeather 설치 프로그램을 다시 실행하여 설치를 복구하십시오.",
    "복구를 시작할 수 없습니다. %1 파일이 없습니다. Quillfeather 설치 프로그램을 다시 실행하여 설치를 복구하십시오.",
    "Quillfeather를 완전히 제거하지 못했습니다. %1을(를) 삭제할 수 없습니다. 해당 파일을 사용하는 프로그램을 닫은 후 다시 제거하십시오. 프로그램 추가/제거의 항목은 계속 사용할 수 있습니다.",
    "Quillfeather를 복구할 수 없습니다. 복구용으로 보관된 CAB 파일 %1을(를) 사용할 수 없습니다(%2). Quillfeather 설치 프로그램을 다시 실행하십시오.",
    "Quillfeather를 복구하지 못했습니다. %1을(를) 복원할 수 없습니다(%2).",
    "제거하지 못했습니다(%1).",
    "복구하지 못했습니다(%1).",
    "%1의 설치된 파일 목록을 신뢰할 수 없습니다. %2. 아무것도 변경되지 않았습니다. Quillfeather 설치 프로그램을 실행하여 빈 폴더에 다시 설치하거나 폴더를 직접 제거하십시오.",
    "%1은(는) 다른 위치에 대한 링크입니다. Quillfeather는 링크를 통해 아무것도 변경하지 않습니다. 아무것도 변경되지 않았습니다. 링크를 제거한 후 다시 시도하십시오.",
]

NB_NO = [
    "Vent mens Quillfeather avinstalleres...",
    "Vil du fjerne Quillfeather (versjon %1) fra %2? Filer du selv har lagt til i mappen, beholdes.",
    "Quillfeather er fjernet fra datamaskinen.",
    "Quillfeather er fjernet fra datamaskinen. (%1 beholdes fordi mappen inneholder filer som er lagt til)",
    "Quillfeather er reparert. Ingenting måtte rettes.",
    "Quillfeather er reparert. %1 filer er gjenopprettet.",
    "Quillfeather er ikke installert i %1. Det er ingenting å fjerne.",
    "Quillfeather er ikke installert i %1. Det er ingenting å reparere.",
    "En annen installasjon, avinstallering eller reparasjon av Quillfeather pågår i %1. Vent til den er ferdig, og prøv deretter på nytt.",
    "Installasjonsprogrammet kunne ikke startes (%1).",
    "Avinstalleringen kan ikke starte: %1 mangler. Kjør installasjonsprogrammet for Quillfeather på nytt for å reparere installasjonen.",
    "Reparasjonen kan ikke starte: %1 mangler. Kjør installasjonsprogrammet for Quillfeather på nytt for å reparere installasjonen.",
    "Quillfeather kunne ikke fjernes helt: %1 kunne ikke slettes. Lukk programmene som bruker filen, og avinstaller på nytt. Oppføringen i Legg til eller fjern programmer virker fortsatt.",
    "Quillfeather kan ikke repareres: CAB-filen %1, som er lagret for reparasjoner, kan ikke brukes (%2). Kjør installasjonsprogrammet for Quillfeather på nytt.",
    "Quillfeather kunne ikke repareres: %1 kunne ikke gjenopprettes (%2).",
    "Avinstalleringen mislyktes (%1).",
    "Reparasjonen mislyktes (%1).",
    "Listen over installerte filer i %1 er ikke til å stole på: %2. Ingenting ble endret. Kjør installasjonsprogrammet for Quillfeather for å installere på nytt i en tom mappe, eller fjern mappen selv.",
    "%1 er en kobling til et annet sted: Quillfeather endrer ingenting gjennom den. Ingenting ble endret. Fjern koblingen, og prøv på nytt.",
]

NL_NL = [
    "Een ogenblik geduld. Quillfeather wordt verwijderd...",
    "Wilt u Quillfeather (versie %1) uit %2 verwijderen? Bestanden die u zelf aan de map hebt toegevoegd, blijven behouden.",
    "Quillfeather is van de computer verwijderd.",
    "Quillfeather is van de computer verwijderd. (%1 is behouden omdat de map toegevoegde bestanden bevat)",
    "Quillfeather is hersteld: er hoefde niets te worden gerepareerd.",
    "Quillfeather is hersteld: %1 bestanden zijn teruggezet.",
    "Quillfeather is niet geïnstalleerd in %1. Er is niets te verwijderen.",
    "Quillfeather is niet geïnstalleerd in %1. Er is niets te herstellen.",
    "In %1 wordt al een andere installatie, verwijdering of reparatie van Quillfeather uitgevoerd. Wacht tot deze is voltooid en probeer het opnieuw.",
    "Het installatieprogramma kan niet worden gestart (%1).",
    "Het verwijderen kan niet beginnen: %1 ontbreekt. Voer het installatieprogramma van Quillfeather opnieuw uit om de installatie te herstellen.",
    "Het herstellen kan niet beginnen: %1 ontbreekt. Voer het installatieprogramma van Quillfeather opnieuw uit om de installatie te herstellen.",
    "Quillfeather kan niet volledig worden verwijderd: %1 kan niet worden verwijderd. Sluit de programma's die dit bestand gebruiken en verwijder Quillfeather opnieuw. Het item onder Software werkt nog steeds.",
    "Quillfeather kan niet worden hersteld: het voor reparaties bewaarde CAB-bestand %1 kan niet worden gebruikt (%2). Voer het installatieprogramma van Quillfeather opnieuw uit.",
    "Quillfeather kan niet worden hersteld: %1 kan niet worden teruggezet (%2).",
    "Het verwijderen is mislukt (%1).",
    "Het herstellen is mislukt (%1).",
    "De lijst met geïnstalleerde bestanden in %1 is niet betrouwbaar: %2. Er is niets gewijzigd. Voer het installatieprogramma van Quillfeather uit om opnieuw in een lege map te installeren, of verwijder de map zelf.",
    "%1 is een koppeling naar een andere locatie: Quillfeather wijzigt niets via deze koppeling. Er is niets gewijzigd. Verwijder de koppeling en probeer het opnieuw.",
]

PT_PT = [
    "Aguarde enquanto o Quillfeather é desinstalado...",
    "Pretende remover o Quillfeather (versão %1) de %2? Os ficheiros que adicionou à pasta serão mantidos.",
    "O Quillfeather foi removido do computador.",
    "O Quillfeather foi removido do computador. (%1 foi mantida porque contém ficheiros adicionados)",
    "O Quillfeather foi reparado: não foi necessário corrigir nada.",
    "O Quillfeather foi reparado: foram restaurados %1 ficheiros.",
    "O Quillfeather não está instalado em %1: não há nada para remover.",
    "O Quillfeather não está instalado em %1: não há nada para reparar.",
    "Está em curso outra instalação, desinstalação ou reparação do Quillfeather em %1. Aguarde até terminar e tente novamente.",
    "Não foi possível iniciar o programa de configuração (%1).",
    "Não é possível iniciar a desinstalação: %1 não foi encontrado. Execute novamente o instalador do Quillfeather para reparar a instalação.",
    "Não é possível iniciar a reparação: %1 não foi encontrado. Execute novamente o instalador do Quillfeather para reparar a instalação.",
    "Não foi possível remover completamente o Quillfeather: não foi possível eliminar %1. Feche os programas que o utilizam e desinstale novamente; a entrada em Adicionar ou remover programas continua a funcionar.",
    "Não é possível reparar o Quillfeather: o ficheiro CAB %1 guardado para reparações não pode ser utilizado (%2). Execute novamente o instalador do Quillfeather.",
    "Não foi possível reparar o Quillfeather: não foi possível restaurar %1 (%2).",
    "A desinstalação falhou (%1).",
    "A reparação falhou (%1).",
    "A lista de ficheiros instalados em %1 não é fiável: %2. Não foi alterado nada. Execute o instalador do Quillfeather para instalar novamente numa pasta vazia ou remova a pasta manualmente.",
    "%1 é uma ligação para outra localização: o Quillfeather não altera nada através dela. Não foi alterado nada. Remova a ligação e tente novamente.",
]

SV_SE = [
    "Vänta medan Quillfeather avinstalleras...",
    "Vill du ta bort Quillfeather (version %1) från %2? Filer som du själv har lagt till i mappen behålls.",
    "Quillfeather har tagits bort från datorn.",
    "Quillfeather har tagits bort från datorn. (%1 behölls eftersom mappen innehåller filer som har lagts till)",
    "Quillfeather har reparerats. Inget behövde åtgärdas.",
    "Quillfeather har reparerats. %1 filer återställdes.",
    "Quillfeather är inte installerat i %1. Det finns inget att ta bort.",
    "Quillfeather är inte installerat i %1. Det finns inget att reparera.",
    "En annan installation, avinstallation eller reparation av Quillfeather pågår i %1. Vänta tills den är klar och försök sedan igen.",
    "Installationsprogrammet kunde inte startas (%1).",
    "Avinstallationen kan inte starta: %1 saknas. Kör installationsprogrammet för Quillfeather igen för att reparera installationen.",
    "Reparationen kan inte starta: %1 saknas. Kör installationsprogrammet för Quillfeather igen för att reparera installationen.",
    "Quillfeather kunde inte tas bort helt: %1 kunde inte tas bort. Stäng programmen som använder filen och avinstallera igen. Posten i Lägg till eller ta bort program fungerar fortfarande.",
    "Quillfeather kan inte repareras: CAB-filen %1 som sparats för reparationer kan inte användas (%2). Kör installationsprogrammet för Quillfeather igen.",
    "Quillfeather kunde inte repareras: %1 kunde inte återställas (%2).",
    "Avinstallationen misslyckades (%1).",
    "Reparationen misslyckades (%1).",
    "Listan över installerade filer i %1 är inte tillförlitlig: %2. Ingenting har ändrats. Kör installationsprogrammet för Quillfeather för att installera igen i en tom mapp, eller ta bort mappen själv.",
    "%1 är en länk till en annan plats: Quillfeather ändrar ingenting genom den. Ingenting har ändrats. Ta bort länken och försök igen.",
]

ZH_CN = [
    "正在卸载 Quillfeather，请稍候...",
    "是否要从 %2 中删除 Quillfeather (版本 %1)？您添加到该文件夹中的文件将被保留。",
    "已从您的计算机上删除 Quillfeather。",
    "已从您的计算机上删除 Quillfeather。(%1 中含有您添加的文件，因此保留了该文件夹)",
    "Quillfeather 已修复：没有需要修复的内容。",
    "Quillfeather 已修复：已还原 %1 个文件。",
    "%1 中未安装 Quillfeather，没有可删除的内容。",
    "%1 中未安装 Quillfeather，没有可修复的内容。",
    "%1 中正在进行另一个 Quillfeather 安装、卸载或修复操作。请等待其结束后重试。",
    "无法启动安装程序(%1)。",
    "无法开始卸载：缺少 %1。请重新运行 Quillfeather 安装程序以修复安装。",
    "无法开始修复：缺少 %1。请重新运行 Quillfeather 安装程序以修复安装。",
    "无法完全删除 Quillfeather：无法删除 %1。请关闭正在使用该文件的程序，然后重新卸载。“添加或删除程序”中的条目仍然可用。",
    "无法修复 Quillfeather：为修复而保留的压缩文件 %1 无法使用(%2)。请重新运行 Quillfeather 安装程序。",
    "无法修复 Quillfeather：无法还原 %1(%2)。",
    "卸载失败(%1)。",
    "修复失败(%1)。",
    "%1 中的已安装文件列表不可信：%2。未做任何更改。请运行 Quillfeather 安装程序重新安装到一个空文件夹中，或自行删除该文件夹。",
    "%1 是指向其他位置的链接：Quillfeather 不会通过它进行任何操作。未做任何更改。请删除该链接，然后重试。",
]

ZH_TW = [
    "正在解除安裝 Quillfeather，請稍候...",
    "是否要從 %2 移除 Quillfeather (版本 %1)？您新增到此資料夾的檔案將會保留。",
    "已從您的電腦移除 Quillfeather。",
    "已從您的電腦移除 Quillfeather。(%1 中含有您新增的檔案，因此保留了此資料夾)",
    "Quillfeather 已修復：沒有需要修正的項目。",
    "Quillfeather 已修復：已還原 %1 個檔案。",
    "%1 中未安裝 Quillfeather，沒有可移除的項目。",
    "%1 中未安裝 Quillfeather，沒有可修復的項目。",
    "%1 中正在進行另一個 Quillfeather 安裝、解除安裝或修復作業。請等候作業結束後再試一次。",
    "無法啟動安裝程式(%1)。",
    "無法開始解除安裝：找不到 %1。請重新執行 Quillfeather 安裝程式以修復安裝。",
    "無法開始修復：找不到 %1。請重新執行 Quillfeather 安裝程式以修復安裝。",
    "無法完全移除 Quillfeather：無法刪除 %1。請關閉正在使用該檔案的程式，然後再解除安裝一次。「新增或移除程式」中的項目仍可使用。",
    "無法修復 Quillfeather：為修復而保留的壓縮檔 %1 無法使用(%2)。請重新執行 Quillfeather 安裝程式。",
    "無法修復 Quillfeather：無法還原 %1(%2)。",
    "解除安裝失敗(%1)。",
    "修復失敗(%1)。",
    "%1 中的已安裝檔案清單不可信任：%2。未進行任何變更。請執行 Quillfeather 安裝程式重新安裝到空白資料夾，或自行移除該資料夾。",
    "%1 是指向其他位置的連結：Quillfeather 不會透過它進行任何操作。未進行任何變更。請移除該連結，然後再試一次。",
]

# The texts of the keys after loc_UI_Maintenance_Link, in the same order.
EN_US += [
    "Quillfeather is not installed: there is nothing to remove.",
    "Quillfeather is not installed: there is nothing to repair.",
    "The uninstall entry names \"%1\", which is not a folder Quillfeather can be installed in. Nothing was changed.",
    "The uninstall cannot start: %1 could not be written (%2).",
    "The repair cannot start: %1 could not be written (%2).",
    "Another Quillfeather installation, uninstall or repair is running. Wait until it has ended, then try again.",
    "The lock file %1 cannot be created: a folder of that name is in the way.",
    "The lock file %1 cannot be created (%2).",
    "The uninstall entry could not be written (%1: %2).",
    "The uninstall entry could not be written (%1 does not read back).",
    "The uninstall entry %1 could not be removed.",
    "The log file %1 cannot be written. Nothing was done.",
    "This is the copy of the installation script that Quillfeather keeps for uninstall and repair; start the Quillfeather installer to install.",
    "The setup program could not be registered: the registry refused it, or another copy of it is registered for this user (VellumSetup.exe exit code %1).",
    "The record of this run's work could not be written to the registry (%1).",
    "The folder %1 was not removed: %2 is a link to another place. Remove it yourself.",
]

DA_DK += [
    "Quillfeather er ikke installeret. Der er intet at fjerne.",
    "Quillfeather er ikke installeret. Der er intet at reparere.",
    "Fjernelsesposten angiver \"%1\", som ikke er en mappe, Quillfeather kan installeres i. Intet blev ændret.",
    "Fjernelsen kan ikke starte: %1 kunne ikke skrives (%2).",
    "Reparationen kan ikke starte: %1 kunne ikke skrives (%2).",
    "En anden installation, fjernelse eller reparation af Quillfeather er i gang. Vent, til den er færdig, og prøv derefter igen.",
    "Låsefilen %1 kan ikke oprettes, fordi der findes en mappe med samme navn.",
    "Låsefilen %1 kan ikke oprettes (%2).",
    "Fjernelsesposten kunne ikke skrives (%1: %2).",
    "Fjernelsesposten kunne ikke skrives (%1 kan ikke læses tilbage).",
    "Fjernelsesposten %1 kunne ikke fjernes.",
    "Logfilen %1 kan ikke skrives. Der blev ikke gjort noget.",
    "Dette er den kopi af installationsscriptet, som Quillfeather gemmer til fjernelse og reparation. Start installationsprogrammet til Quillfeather for at installere.",
    "Installationsprogrammet kunne ikke registreres: Registreringsdatabasen afviste det, eller en anden kopi af det er registreret for denne bruger (afslutningskode fra VellumSetup.exe: %1).",
    "Oplysningerne om denne kørsels arbejde kunne ikke skrives i registreringsdatabasen (%1).",
    "Mappen %1 blev ikke fjernet: %2 er et link til et andet sted. Fjern selv mappen.",
]

DE_DE += [
    "Quillfeather ist nicht installiert. Es gibt nichts zu entfernen.",
    "Quillfeather ist nicht installiert. Es gibt nichts zu reparieren.",
    "Der Deinstallationseintrag nennt „%1“. Dies ist kein Ordner, in dem Quillfeather installiert sein kann. Es wurde nichts geändert.",
    "Die Deinstallation kann nicht gestartet werden: %1 konnte nicht geschrieben werden (%2).",
    "Die Reparatur kann nicht gestartet werden: %1 konnte nicht geschrieben werden (%2).",
    "Es wird bereits eine andere Installation, Deinstallation oder Reparatur von Quillfeather ausgeführt. Warten Sie, bis sie beendet ist, und versuchen Sie es dann erneut.",
    "Die Sperrdatei %1 kann nicht erstellt werden, da ein Ordner mit diesem Namen vorhanden ist.",
    "Die Sperrdatei %1 kann nicht erstellt werden (%2).",
    "Der Deinstallationseintrag konnte nicht geschrieben werden (%1: %2).",
    "Der Deinstallationseintrag konnte nicht geschrieben werden (%1 lässt sich nicht zurücklesen).",
    "Der Deinstallationseintrag %1 konnte nicht entfernt werden.",
    "Die Protokolldatei %1 kann nicht geschrieben werden. Es wurde nichts ausgeführt.",
    "Dies ist die Kopie des Installationsskripts, die Quillfeather für Deinstallation und Reparatur aufbewahrt. Starten Sie zum Installieren das Quillfeather-Installationsprogramm.",
    "Das Setupprogramm konnte nicht registriert werden: Die Registrierung hat es abgelehnt, oder eine andere Kopie ist für diesen Benutzer registriert (Exitcode von VellumSetup.exe: %1).",
    "Die Aufzeichnung der laufenden Arbeitsschritte konnte nicht in die Registrierung geschrieben werden (%1).",
    "Der Ordner %1 wurde nicht entfernt: %2 ist eine Verknüpfung zu einem anderen Ort. Entfernen Sie den Ordner selbst.",
]

ES_ES += [
    "Quillfeather no está instalado: no hay nada que quitar.",
    "Quillfeather no está instalado: no hay nada que reparar.",
    "La entrada de desinstalación indica \"%1\", que no es una carpeta en la que se pueda instalar Quillfeather. No se ha cambiado nada.",
    "No se puede iniciar la desinstalación: no se pudo escribir %1 (%2).",
    "No se puede iniciar la reparación: no se pudo escribir %1 (%2).",
    "Hay otra instalación, desinstalación o reparación de Quillfeather en curso. Espere a que termine y vuelva a intentarlo.",
    "No se puede crear el archivo de bloqueo %1: hay una carpeta con ese nombre.",
    "No se puede crear el archivo de bloqueo %1 (%2).",
    "No se pudo escribir la entrada de desinstalación (%1: %2).",
    "No se pudo escribir la entrada de desinstalación (%1 no se puede volver a leer).",
    "No se pudo quitar la entrada de desinstalación %1.",
    "No se puede escribir el archivo de registro %1. No se ha hecho nada.",
    "Esta es la copia del script de instalación que Quillfeather guarda para desinstalarlo y repararlo. Para instalarlo, inicie el instalador de Quillfeather.",
    "No se pudo registrar el programa de instalación: el Registro lo rechazó o hay otra copia registrada para este usuario (código de salida de VellumSetup.exe: %1).",
    "No se pudo escribir en el Registro el estado de esta operación (%1).",
    "No se ha quitado la carpeta %1: %2 es un vínculo a otra ubicación. Quite la carpeta usted mismo.",
]

ES_MX += [
    "Quillfeather no está instalado: no hay nada que quitar.",
    "Quillfeather no está instalado: no hay nada que reparar.",
    "La entrada de desinstalación indica \"%1\", que no es una carpeta donde se pueda instalar Quillfeather. No se cambió nada.",
    "No se puede iniciar la desinstalación: no se pudo escribir %1 (%2).",
    "No se puede iniciar la reparación: no se pudo escribir %1 (%2).",
    "Otra instalación, desinstalación o reparación de Quillfeather se está ejecutando. Espere a que termine e inténtelo nuevamente.",
    "No se puede crear el archivo de bloqueo %1: ya existe una carpeta con ese nombre.",
    "No se puede crear el archivo de bloqueo %1 (%2).",
    "No se pudo escribir la entrada de desinstalación (%1: %2).",
    "No se pudo escribir la entrada de desinstalación (%1 no se puede leer de nuevo).",
    "No se pudo quitar la entrada de desinstalación %1.",
    "No se puede escribir el archivo de registro %1. No se realizó ninguna acción.",
    "Esta es la copia del script de instalación que Quillfeather conserva para desinstalarlo y repararlo. Para instalarlo, inicie el instalador de Quillfeather.",
    "No se pudo registrar el programa de instalación: el Registro lo rechazó o hay otra copia registrada para este usuario (código de salida de VellumSetup.exe: %1).",
    "No se pudo escribir en el Registro el estado de esta operación (%1).",
    "No se quitó la carpeta %1: %2 es un vínculo a otra ubicación. Quite la carpeta usted mismo.",
]

FI_FI += [
    "Quillfeatheria ei ole asennettu. Poistettavaa ei ole.",
    "Quillfeatheria ei ole asennettu. Korjattavaa ei ole.",
    "Poistomerkintä viittaa kohteeseen \"%1\", joka ei ole kansio, johon Quillfeather voidaan asentaa. Mitään ei muutettu.",
    "Poistoa ei voi aloittaa: kohdetta %1 ei voitu kirjoittaa (%2).",
    "Korjausta ei voi aloittaa: kohdetta %1 ei voitu kirjoittaa (%2).",
    "Toinen Quillfeatherin asennus, poisto tai korjaus on käynnissä. Odota, kunnes se on päättynyt, ja yritä sitten uudelleen.",
    "Lukitustiedostoa %1 ei voi luoda, koska samanniminen kansio on jo olemassa.",
    "Lukitustiedostoa %1 ei voi luoda (%2).",
    "Poistomerkintää ei voitu kirjoittaa (%1: %2).",
    "Poistomerkintää ei voitu kirjoittaa (arvoa %1 ei voitu lukea takaisin).",
    "Poistomerkintää %1 ei voitu poistaa.",
    "Lokitiedostoon %1 ei voi kirjoittaa. Mitään ei tehty.",
    "Tämä on asennuskomentosarjan kopio, jonka Quillfeather säilyttää poistoa ja korjausta varten. Asenna käynnistämällä Quillfeatherin asennusohjelma.",
    "Asennusohjelmaa ei voitu rekisteröidä: rekisteri hylkäsi sen, tai sen toinen kopio on rekisteröity tälle käyttäjälle (VellumSetup.exe-lopetuskoodi %1).",
    "Tämän suorituksen vaiheita ei voitu tallentaa rekisteriin (%1).",
    "Kansiota %1 ei poistettu: %2 on linkki toiseen sijaintiin. Poista kansio itse.",
]

FR_FR += [
    "Quillfeather n'est pas installé : il n'y a rien à supprimer.",
    "Quillfeather n'est pas installé : il n'y a rien à réparer.",
    "L'entrée de désinstallation indique « %1 », qui n'est pas un dossier dans lequel Quillfeather peut être installé. Rien n'a été modifié.",
    "Impossible de démarrer la désinstallation : %1 n'a pas pu être écrit (%2).",
    "Impossible de démarrer la réparation : %1 n'a pas pu être écrit (%2).",
    "Une autre installation, désinstallation ou réparation de Quillfeather est en cours. Attendez qu'elle soit terminée, puis réessayez.",
    "Impossible de créer le fichier de verrouillage %1 : un dossier porte déjà ce nom.",
    "Impossible de créer le fichier de verrouillage %1 (%2).",
    "L'entrée de désinstallation n'a pas pu être écrite (%1 : %2).",
    "L'entrée de désinstallation n'a pas pu être écrite (%1 ne peut pas être relu).",
    "L'entrée de désinstallation %1 n'a pas pu être supprimée.",
    "Impossible d'écrire dans le fichier journal %1. Aucune opération n'a été effectuée.",
    "Ceci est la copie du script d'installation que Quillfeather conserve pour la désinstallation et la réparation ; pour installer, démarrez le programme d'installation de Quillfeather.",
    "Le programme d'installation n'a pas pu être inscrit : le Registre l'a refusé, ou une autre copie est inscrite pour cet utilisateur (code de sortie de VellumSetup.exe : %1).",
    "L'état de cette opération n'a pas pu être enregistré dans le Registre (%1).",
    "Le dossier %1 n'a pas été supprimé : %2 est un lien vers un autre emplacement. Supprimez vous-même le dossier.",
]

FR_CA += [
    "Quillfeather n'est pas installé : il n'y a rien à supprimer.",
    "Quillfeather n'est pas installé : il n'y a rien à réparer.",
    "L'entrée de désinstallation indique « %1 », qui n'est pas un dossier où Quillfeather peut être installé. Rien n'a été modifié.",
    "Impossible de lancer la désinstallation : %1 n'a pas pu être écrit (%2).",
    "Impossible de lancer la réparation : %1 n'a pas pu être écrit (%2).",
    "Une autre installation, désinstallation ou réparation de Quillfeather est en cours. Attendez qu'elle soit terminée, puis essayez de nouveau.",
    "Impossible de créer le fichier de verrouillage %1 : un dossier porte déjà ce nom.",
    "Impossible de créer le fichier de verrouillage %1 (%2).",
    "L'entrée de désinstallation n'a pas pu être écrite (%1 : %2).",
    "L'entrée de désinstallation n'a pas pu être écrite (%1 ne peut pas être relu).",
    "L'entrée de désinstallation %1 n'a pas pu être supprimée.",
    "Impossible d'écrire dans le fichier journal %1. Aucune opération n'a été effectuée.",
    "Ceci est la copie du script d'installation que Quillfeather conserve pour la désinstallation et la réparation ; pour installer, lancez le programme d'installation de Quillfeather.",
    "Le programme d'installation n'a pas pu être inscrit : le registre l'a refusé, ou une autre copie est inscrite pour cet utilisateur (code de sortie de VellumSetup.exe : %1).",
    "L'état de cette opération n'a pas pu être enregistré dans le registre (%1).",
    "Le dossier %1 n'a pas été supprimé : %2 est un lien vers un autre emplacement. Supprimez vous-même le dossier.",
]

IT_IT += [
    "Quillfeather non è installato: non c'è nulla da rimuovere.",
    "Quillfeather non è installato: non c'è nulla da riparare.",
    "La voce di disinstallazione indica \"%1\", che non è una cartella in cui è possibile installare Quillfeather. Non è stato modificato nulla.",
    "Impossibile avviare la disinstallazione: impossibile scrivere %1 (%2).",
    "Impossibile avviare la riparazione: impossibile scrivere %1 (%2).",
    "È in corso un'altra installazione, disinstallazione o riparazione di Quillfeather. Attendere il completamento e riprovare.",
    "Impossibile creare il file di blocco %1: esiste già una cartella con lo stesso nome.",
    "Impossibile creare il file di blocco %1 (%2).",
    "Impossibile scrivere la voce di disinstallazione (%1: %2).",
    "Impossibile scrivere la voce di disinstallazione (non è possibile rileggere %1).",
    "Impossibile rimuovere la voce di disinstallazione %1.",
    "Impossibile scrivere nel file di registro %1. Non è stata eseguita alcuna operazione.",
    "Questa è la copia dello script di installazione che Quillfeather conserva per la disinstallazione e la riparazione. Per installare, avviare il programma di installazione di Quillfeather.",
    "Impossibile registrare il programma di installazione: il Registro di sistema lo ha rifiutato oppure un'altra copia è registrata per questo utente (codice di uscita di VellumSetup.exe: %1).",
    "Impossibile salvare nel Registro di sistema lo stato di questa operazione (%1).",
    "La cartella %1 non è stata rimossa: %2 è un collegamento a un altro percorso. Rimuovere manualmente la cartella.",
]

KO_KR += [
    "Quillfeather가 설치되어 있지 않습니다. 제거할 항목이 없습니다.",
    "Quillfeather가 설치되어 있지 않습니다. 복구할 항목이 없습니다.",
    "제거 항목에 지정된 \"%1\"은(는) Quillfeather를 설치할 수 있는 폴더가 아닙니다. 아무것도 변경되지 않았습니다.",
    "제거를 시작할 수 없습니다. %1에 쓸 수 없습니다(%2).",
    "복구를 시작할 수 없습니다. %1에 쓸 수 없습니다(%2).",
    "다른 Quillfeather 설치, 제거 또는 복구 작업이 진행 중입니다. 작업이 끝날 때까지 기다린 후 다시 시도하십시오.",
    "잠금 파일 %1을(를) 만들 수 없습니다. 같은 이름의 폴더가 있습니다.",
    "잠금 파일 %1을(를) 만들 수 없습니다(%2).",
    "제거 항목을 기록할 수 없습니다(%1: %2).",
    "제거 항목을 기록할 수 없습니다(%1 값을 다시 읽을 수 없음).",
    "제거 항목 %1을(를) 제거할 수 없습니다.",
    "로그 파일 %1에 쓸 수 없습니다. 아무 작업도 수행되지 않았습니다.",
    "Quillfeather가 제거 및 복구를 위해 보관하는 설치 스크립트의 복사본입니다. 설치하려면 Quillfeather 설치 프로그램을 시작하십시오.",
    "설치 프로그램을 등록할 수 없습니다. 레지스트리에서 거부되었거나 다른 복사본이 이 사용자에 대해 등록되어 있습니다(VellumSetup.exe 종료 코드 %1).",
    "이 작업의 진행 기록을 레지스트리에 쓸 수 없습니다(%1).",
    "%1 폴더를 제거하지 않았습니다. %2은(는) 다른 위치에 대한 링크입니다. 폴더를 직접 제거하십시오.",
]

NB_NO += [
    "Quillfeather er ikke installert. Det er ingenting å fjerne.",
    "Quillfeather er ikke installert. Det er ingenting å reparere.",
    "Avinstalleringsoppføringen angir «%1», som ikke er en mappe Quillfeather kan installeres i. Ingenting ble endret.",
    "Avinstalleringen kan ikke starte: %1 kunne ikke skrives (%2).",
    "Reparasjonen kan ikke starte: %1 kunne ikke skrives (%2).",
    "En annen installasjon, avinstallering eller reparasjon av Quillfeather pågår. Vent til den er ferdig, og prøv deretter på nytt.",
    "Låsefilen %1 kan ikke opprettes fordi det finnes en mappe med samme navn.",
    "Låsefilen %1 kan ikke opprettes (%2).",
    "Avinstalleringsoppføringen kunne ikke skrives (%1: %2).",
    "Avinstalleringsoppføringen kunne ikke skrives (%1 kan ikke leses tilbake).",
    "Avinstalleringsoppføringen %1 kunne ikke fjernes.",
    "Loggfilen %1 kan ikke skrives. Ingenting ble gjort.",
    "Dette er kopien av installasjonsskriptet som Quillfeather beholder for avinstallering og reparasjon. Start installasjonsprogrammet for Quillfeather for å installere.",
    "Installasjonsprogrammet kunne ikke registreres: Registeret avviste det, eller en annen kopi av det er registrert for denne brukeren (avslutningskode fra VellumSetup.exe: %1).",
    "Opplysningene om denne kjøringens arbeid kunne ikke skrives til registeret (%1).",
    "Mappen %1 ble ikke fjernet: %2 er en kobling til et annet sted. Fjern mappen selv.",
]

NL_NL += [
    "Quillfeather is niet geïnstalleerd. Er is niets te verwijderen.",
    "Quillfeather is niet geïnstalleerd. Er is niets te herstellen.",
    "Het verwijderingsitem verwijst naar \"%1\". Dat is geen map waarin Quillfeather kan worden geïnstalleerd. Er is niets gewijzigd.",
    "Het verwijderen kan niet beginnen: %1 kan niet worden geschreven (%2).",
    "Het herstellen kan niet beginnen: %1 kan niet worden geschreven (%2).",
    "Er wordt al een andere installatie, verwijdering of reparatie van Quillfeather uitgevoerd. Wacht tot deze is voltooid en probeer het opnieuw.",
    "Het vergrendelingsbestand %1 kan niet worden gemaakt: er bestaat al een map met die naam.",
    "Het vergrendelingsbestand %1 kan niet worden gemaakt (%2).",
    "Het verwijderingsitem kan niet worden geschreven (%1: %2).",
    "Het verwijderingsitem kan niet worden geschreven (%1 kan niet worden teruggelezen).",
    "Het verwijderingsitem %1 kan niet worden verwijderd.",
    "Het logbestand %1 kan niet worden geschreven. Er is niets uitgevoerd.",
    "Dit is de kopie van het installatiescript die Quillfeather bewaart voor verwijderen en herstellen. Start het installatieprogramma van Quillfeather om te installeren.",
    "Het installatieprogramma kan niet worden geregistreerd: het register heeft het geweigerd, of een andere kopie ervan is voor deze gebruiker geregistreerd (afsluitcode van VellumSetup.exe: %1).",
    "De voortgang van deze bewerking kan niet in het register worden vastgelegd (%1).",
    "De map %1 is niet verwijderd: %2 is een koppeling naar een andere locatie. Verwijder de map zelf.",
]

PT_PT += [
    "O Quillfeather não está instalado: não há nada para remover.",
    "O Quillfeather não está instalado: não há nada para reparar.",
    "A entrada de desinstalação indica \"%1\", que não é uma pasta onde o Quillfeather possa ser instalado. Não foi alterado nada.",
    "Não é possível iniciar a desinstalação: não foi possível escrever %1 (%2).",
    "Não é possível iniciar a reparação: não foi possível escrever %1 (%2).",
    "Está em curso outra instalação, desinstalação ou reparação do Quillfeather. Aguarde até terminar e tente novamente.",
    "Não é possível criar o ficheiro de bloqueio %1: já existe uma pasta com esse nome.",
    "Não é possível criar o ficheiro de bloqueio %1 (%2).",
    "Não foi possível escrever a entrada de desinstalação (%1: %2).",
    "Não foi possível escrever a entrada de desinstalação (não é possível voltar a ler %1).",
    "Não foi possível remover a entrada de desinstalação %1.",
    "Não é possível escrever no ficheiro de registo %1. Não foi feito nada.",
    "Esta é a cópia do script de instalação que o Quillfeather guarda para a desinstalação e a reparação. Para instalar, inicie o instalador do Quillfeather.",
    "Não foi possível registar o programa de configuração: o registo recusou-o ou existe outra cópia registada para este utilizador (código de saída do VellumSetup.exe: %1).",
    "Não foi possível guardar no registo o estado desta operação (%1).",
    "A pasta %1 não foi removida: %2 é uma ligação para outra localização. Remova a pasta manualmente.",
]

SV_SE += [
    "Quillfeather är inte installerat. Det finns inget att ta bort.",
    "Quillfeather är inte installerat. Det finns inget att reparera.",
    "Avinstallationsposten anger \"%1\", som inte är en mapp som Quillfeather kan installeras i. Ingenting har ändrats.",
    "Avinstallationen kan inte starta: %1 kunde inte skrivas (%2).",
    "Reparationen kan inte starta: %1 kunde inte skrivas (%2).",
    "En annan installation, avinstallation eller reparation av Quillfeather pågår. Vänta tills den är klar och försök sedan igen.",
    "Låsfilen %1 kan inte skapas eftersom det finns en mapp med samma namn.",
    "Låsfilen %1 kan inte skapas (%2).",
    "Avinstallationsposten kunde inte skrivas (%1: %2).",
    "Avinstallationsposten kunde inte skrivas (%1 kan inte läsas tillbaka).",
    "Avinstallationsposten %1 kunde inte tas bort.",
    "Det går inte att skriva till loggfilen %1. Ingenting har gjorts.",
    "Det här är den kopia av installationsskriptet som Quillfeather sparar för avinstallation och reparation. Starta installationsprogrammet för Quillfeather om du vill installera.",
    "Installationsprogrammet kunde inte registreras: registret nekade det, eller så är en annan kopia registrerad för den här användaren (slutkod från VellumSetup.exe: %1).",
    "Uppgifterna om den här körningens arbete kunde inte skrivas till registret (%1).",
    "Mappen %1 togs inte bort: %2 är en länk till en annan plats. Ta bort mappen själv.",
]

ZH_CN += [
    "未安装 Quillfeather，没有可删除的内容。",
    "未安装 Quillfeather，没有可修复的内容。",
    "卸载项指定的“%1”不是可以安装 Quillfeather 的文件夹。未做任何更改。",
    "无法开始卸载：无法写入 %1(%2)。",
    "无法开始修复：无法写入 %1(%2)。",
    "另一个 Quillfeather 安装、卸载或修复操作正在进行。请等待其结束后重试。",
    "无法创建锁定文件 %1：已存在同名文件夹。",
    "无法创建锁定文件 %1(%2)。",
    "无法写入卸载项(%1：%2)。",
    "无法写入卸载项(无法读回 %1)。",
    "无法删除卸载项 %1。",
    "无法写入日志文件 %1。未执行任何操作。",
    "这是 Quillfeather 为卸载和修复而保留的安装脚本副本。要进行安装，请启动 Quillfeather 安装程序。",
    "无法注册安装程序：注册表拒绝了注册，或者已为此用户注册了它的另一个副本(VellumSetup.exe 退出代码 %1)。",
    "无法将此次操作的记录写入注册表(%1)。",
    "未删除文件夹 %1：%2 是指向其他位置的链接。请自行删除该文件夹。",
]

ZH_TW += [
    "未安裝 Quillfeather，沒有可移除的項目。",
    "未安裝 Quillfeather，沒有可修復的項目。",
    "解除安裝項目指定的「%1」不是可以安裝 Quillfeather 的資料夾。未進行任何變更。",
    "無法開始解除安裝：無法寫入 %1(%2)。",
    "無法開始修復：無法寫入 %1(%2)。",
    "另一個 Quillfeather 安裝、解除安裝或修復作業正在進行中。請等候作業結束後再試一次。",
    "無法建立鎖定檔案 %1：已有同名的資料夾。",
    "無法建立鎖定檔案 %1(%2)。",
    "無法寫入解除安裝項目(%1：%2)。",
    "無法寫入解除安裝項目(無法讀回 %1)。",
    "無法移除解除安裝項目 %1。",
    "無法寫入記錄檔 %1。未執行任何作業。",
    "這是 Quillfeather 為解除安裝和修復而保留的安裝指令碼複本。若要安裝，請啟動 Quillfeather 安裝程式。",
    "無法登錄安裝程式：登錄拒絕了它，或已為此使用者登錄了它的另一個複本(VellumSetup.exe 結束代碼 %1)。",
    "無法將這次作業的記錄寫入登錄(%1)。",
    "未移除資料夾 %1：%2 是指向其他位置的連結。請自行移除該資料夾。",
]

_OWN = {
    "da-dk": DA_DK, "de-de": DE_DE, "en-au": EN_US, "en-gb": EN_US,
    "en-us": EN_US, "es-es": ES_ES, "es-mx": ES_MX, "fi-fi": FI_FI,
    "fr-ca": FR_CA, "fr-fr": FR_FR, "it-it": IT_IT, "ko-kr": KO_KR,
    "nb-no": NB_NO, "nl-nl": NL_NL, "pt-pt": PT_PT, "sv-se": SV_SE,
    "zh-cn": ZH_CN, "zh-hk": ZH_TW, "zh-tw": ZH_TW,
}


def _texts(locale):
    shared = [ui_texts.TEXTS[locale][ui_texts.KEYS.index(k)] for k in SHARED_KEYS]
    return shared + _OWN[locale]


TEXTS = {loc: _texts(loc) for loc in _OWN}

# Which placeholders each text has: a translation keeps every one.
PLACEHOLDERS = {key: sorted(set(p for p in ("%1", "%2") if p in text))
                for key, text in zip(KEYS, TEXTS["en-us"])}
