<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="fr">
<context>
    <name>Announcements</name>
    <message>
        <source>Enregistrement en cours : %1</source>
        <translation>Recording: %1</translation>
    </message>
    <message>
        <source>Enregistrement terminé : %1</source>
        <translation>Recording stopped: %1</translation>
    </message>
    <message>
        <source>Photo enregistrée : %1</source>
        <translation>Picture saved: %1</translation>
    </message>
    <message>
        <source>L&apos;image de la caméra est revenue.</source>
        <translation>The camera&apos;s picture is back.</translation>
    </message>
</context>
<context>
    <name>ControlPanel</name>
    <message>
        <source>Stop</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Enregistrement</source>
        <translation>Record</translation>
    </message>
    <message>
        <source>L&apos;enregistrement n&apos;a pas pu commencer.</source>
        <translation>The recording could not start.</translation>
    </message>
    <message>
        <source>Vide</source>
        <translation>Empty</translation>
    </message>
    <message>
        <source>Enregistrement de la voix durant l’acquisition</source>
        <translation>Record sound while capturing</translation>
    </message>
    <message>
        <source>Format Audio</source>
        <translation>Audio Format</translation>
    </message>
    <message>
        <source>Couleur des vidéos</source>
        <translation>Video Colour</translation>
    </message>
    <message>
        <source>Résolution des vidéos</source>
        <translation>Video Resolution</translation>
    </message>
    <message>
        <source>Réglage audio</source>
        <translation>Audio Settings</translation>
    </message>
    <message>
        <source>Réglage de la compression</source>
        <translation>Compression Settings</translation>
    </message>
    <message>
        <source>Réglage du dossier de sauvegarde</source>
        <translation>Save Folder Settings</translation>
    </message>
    <message>
        <source>Sélection du périphérique</source>
        <translation>Device Selection</translation>
    </message>
    <message>
        <source>Envoyer Message après enregistrement</source>
        <translation>Send Mail after Recording</translation>
    </message>
    <message>
        <source>Envoyer Message avec photo</source>
        <translation>Send Mail with Photo</translation>
    </message>
    <message>
        <source>Effacer</source>
        <translation>Remove from the strip (the file stays on disk)</translation>
    </message>
    <message>
        <source>Tout Effacer</source>
        <translation>Remove all from the strip (the files stay on disk)</translation>
    </message>
    <message>
        <source>Image Fixe</source>
        <translation>Still Picture</translation>
    </message>
    <message>
        <source>Edition Photo</source>
        <translation>Edit Photo</translation>
    </message>
    <message>
        <source>Envois de message</source>
        <translation>Send Mail</translation>
    </message>
    <message>
        <source>Configuration</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Minimiser</source>
        <translation>Minimize</translation>
    </message>
    <message>
        <source>Fin</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>Extension</source>
        <translation>Expand</translation>
    </message>
    <message>
        <source>Retour Rapide</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>Avance Rapide</source>
        <translation>Forward</translation>
    </message>
    <message>
        <source>Minimiser</source>
        <comment>folds the strip away</comment>
        <translation>Collapse</translation>
    </message>
    <message>
        <source>Photos et vidéos de la séance</source>
        <translation>Pictures and recordings of this session</translation>
    </message>
    <message>
        <source>Replier</source>
        <comment>folds the strip away</comment>
        <translation>Collapse</translation>
    </message>
</context>
<context>
    <name>Dialogs</name>
    <message>
        <source>Sélection du son</source>
        <translation>Sound Selection</translation>
    </message>
    <message>
        <source>&amp;Format :</source>
        <translation>&amp;Format:</translation>
    </message>
    <message>
        <source>Confirmation</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Annulation</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Réglage de la compression</source>
        <translation>Compression Settings</translation>
    </message>
    <message>
        <source>Format de compression vidéo</source>
        <translation>Video compression format</translation>
    </message>
    <message>
        <source>Format de compression Audio</source>
        <translation>Audio compression format</translation>
    </message>
    <message>
        <source>Non disponible</source>
        <translation>Not available</translation>
    </message>
    <message>
        <source>Réglage du dossier de sauvegarde</source>
        <translation>Save Folder Settings</translation>
    </message>
    <message>
        <source>Dossier de sauvegarde Video</source>
        <translation>Video save folder</translation>
    </message>
    <message>
        <source>Dossier de sauvegarde des Photos</source>
        <translation>Photo save folder</translation>
    </message>
    <message>
        <source>Sélection du périphérique</source>
        <translation>Device Selection</translation>
    </message>
    <message>
        <source>Appareil Vidéo</source>
        <translation>Video Device</translation>
    </message>
    <message>
        <source>Appareil Audio</source>
        <translation>Audio Device</translation>
    </message>
    <message>
        <source>Mono</source>
        <translation>Mono</translation>
    </message>
    <message>
        <source>Stereo</source>
        <translation>Stereo</translation>
    </message>
    <message>
        <source>%1 canaux</source>
        <translation>%1 channels</translation>
    </message>
    <message>
        <source>%1, %2 Hz, %3 Bit, %4</source>
        <translation>%1, %2 Hz, %3 bits, %4</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>Format</translation>
    </message>
    <message>
        <source>Choisir : %1</source>
        <translation>Choose: %1</translation>
    </message>
    <message>
        <source>Compresseur vidéo</source>
        <translation>Video compressor</translation>
    </message>
    <message>
        <source>Compresseur audio</source>
        <translation>Audio compressor</translation>
    </message>
    <message>
        <source>Sans compresseur vidéo</source>
        <translation>No video compressor</translation>
    </message>
    <message>
        <source>Sans compresseur audio</source>
        <translation>No audio compressor</translation>
    </message>
</context>
<context>
    <name>Media</name>
    <message>
        <source>Erreur inconnue</source>
        <translation>Unknown error</translation>
    </message>
    <message>
        <source>Interface non prise en charge</source>
        <translation>Interface not supported</translation>
    </message>
    <message>
        <source>Périphérique</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>Aucun réglage.</source>
        <translation>No controls.</translation>
    </message>
    <message>
        <source>L&apos;opération a réussi.</source>
        <translation>The operation completed successfully.</translation>
    </message>
    <message>
        <source>L&apos;opération s&apos;est terminée, avec un résultat faux.</source>
        <translation>The operation completed, with a false result.</translation>
    </message>
    <message>
        <source>Cette interface n&apos;est pas prise en charge.</source>
        <translation>No such interface supported.</translation>
    </message>
    <message>
        <source>Pointeur non valide.</source>
        <translation>Invalid pointer.</translation>
    </message>
    <message>
        <source>Opération abandonnée.</source>
        <translation>Operation aborted.</translation>
    </message>
    <message>
        <source>Erreur non spécifiée.</source>
        <translation>Unspecified error.</translation>
    </message>
    <message>
        <source>Mémoire insuffisante pour achever cette opération.</source>
        <translation>Not enough storage is available to complete this operation.</translation>
    </message>
    <message>
        <source>Paramètre incorrect.</source>
        <translation>The parameter is incorrect.</translation>
    </message>
    <message>
        <source>Accès refusé.</source>
        <translation>Access is denied.</translation>
    </message>
    <message>
        <source>Le fichier est introuvable.</source>
        <translation>The file could not be found.</translation>
    </message>
    <message>
        <source>Opération non disponible.</source>
        <translation>Operation unavailable.</translation>
    </message>
    <message>
        <source>Classe non enregistrée.</source>
        <translation>Class not registered.</translation>
    </message>
    <message>
        <source>Un type de média non valide a été spécifié.</source>
        <translation>An invalid media type was specified.</translation>
    </message>
    <message>
        <source>Un sous-type de média non valide a été spécifié.</source>
        <translation>An invalid media subtype was specified.</translation>
    </message>
    <message>
        <source>L&apos;opération n&apos;a pas pu être effectuée, car la broche est déjà connectée.</source>
        <translation>The operation could not be performed because the pin is already connected.</translation>
    </message>
    <message>
        <source>L&apos;opération n&apos;a pas pu être effectuée, car le filtre est actif.</source>
        <translation>The operation could not be performed because the filter is active.</translation>
    </message>
    <message>
        <source>L&apos;une des broches indiquées ne prend en charge aucun type de média.</source>
        <translation>One of the specified pins supports no media types.</translation>
    </message>
    <message>
        <source>Ces broches n&apos;ont aucun type de média en commun.</source>
        <translation>There is no common media type between these pins.</translation>
    </message>
    <message>
        <source>Deux broches de même sens ne peuvent pas être connectées entre elles.</source>
        <translation>Two pins of the same direction cannot be connected together.</translation>
    </message>
    <message>
        <source>L&apos;opération ne peut pas être effectuée, car les broches ne sont pas connectées.</source>
        <translation>The operation cannot be performed because the pins are not connected.</translation>
    </message>
    <message>
        <source>Une erreur d&apos;exécution s&apos;est produite.</source>
        <translation>A run-time error occurred.</translation>
    </message>
    <message>
        <source>L&apos;interface requise est introuvable.</source>
        <translation>The required interface was not found.</translation>
    </message>
    <message>
        <source>Un objet ou un nom est introuvable.</source>
        <translation>An object or name was not found.</translation>
    </message>
    <message>
        <source>Aucune combinaison de filtres intermédiaires ne permet d&apos;établir la connexion.</source>
        <translation>No combination of intermediate filters could be found to make the connection.</translation>
    </message>
    <message>
        <source>Aucune combinaison de filtres ne permet de restituer le flux.</source>
        <translation>No combination of filters could be found to render the stream.</translation>
    </message>
    <message>
        <source>L&apos;opération n&apos;a pas pu être effectuée, car le filtre n&apos;est pas arrêté.</source>
        <translation>The operation could not be performed because the filter is not stopped.</translation>
    </message>
    <message>
        <source>L&apos;opération n&apos;a pas pu être effectuée, car le filtre n&apos;est pas dans l&apos;état voulu.</source>
        <translation>The operation could not be performed because the filter is in the wrong state.</translation>
    </message>
    <message>
        <source>Cette broche ne peut pas utiliser le type de média fourni.</source>
        <translation>This pin cannot use the supplied media type.</translation>
    </message>
    <message>
        <source>Impossible d&apos;effectuer la fonction demandée sur un objet qui n&apos;est pas dans le graphe de filtres.</source>
        <translation>Cannot perform the requested function on an object that is not in the filter graph.</translation>
    </message>
    <message>
        <source>Capture impossible : aucun matériel de capture n&apos;est disponible.</source>
        <translation>Cannot capture: no capture hardware is available.</translation>
    </message>
    <message>
        <source>Le délai de l&apos;opération a expiré.</source>
        <translation>The operation timed out.</translation>
    </message>
    <message>
        <source>Un filtre de ce nom existe déjà dans le graphe de filtres.</source>
        <translation>A filter with this name already exists in the filter graph.</translation>
    </message>
    <message>
        <source>Le fichier indiqué est introuvable.</source>
        <translation>The specified file was not found.</translation>
    </message>
    <message>
        <source>%1 %2 Hz, %3 bits, %4 canaux</source>
        <translation>%1 %2 Hz, %3 bits, %4 channels</translation>
    </message>
    <message>
        <source>Le format ne peut pas être changé maintenant (erreur %1).</source>
        <translation>The format cannot be changed now (error %1).</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Annuler</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Fonction non disponible.</source>
        <translation>Not implemented.</translation>
    </message>
    <message>
        <source>Défaillance grave et inattendue.</source>
        <translation>Catastrophic failure.</translation>
    </message>
    <message>
        <source>Le chemin d&apos;accès spécifié est introuvable.</source>
        <translation>The system cannot find the path specified.</translation>
    </message>
    <message>
        <source>Le support est protégé en écriture.</source>
        <translation>The media is write protected.</translation>
    </message>
    <message>
        <source>Le périphérique n&apos;est pas prêt.</source>
        <translation>The device is not ready.</translation>
    </message>
    <message>
        <source>Impossible d&apos;écrire sur le périphérique spécifié.</source>
        <translation>The system cannot write to the specified device.</translation>
    </message>
    <message>
        <source>Il n&apos;y a pas assez d&apos;espace sur le disque.</source>
        <translation>There is not enough space on the disk.</translation>
    </message>
    <message>
        <source>La taille du fichier dépasse la limite autorisée ; il ne peut pas être enregistré.</source>
        <translation>The file size exceeds the limit allowed and cannot be saved.</translation>
    </message>
    <message>
        <source>Par défaut : %1</source>
        <translation>Default: %1</translation>
    </message>
    <message>
        <source>, de %1 à %2 par pas de %3</source>
        <translation>, %1 to %2 by %3</translation>
    </message>
    <message>
        <source>lecture seule</source>
        <translation>read-only</translation>
    </message>
    <message>
        <source>automatique</source>
        <translation>automatic</translation>
    </message>
    <message>
        <source>inactif</source>
        <translation>inactive</translation>
    </message>
    <message>
        <source>occupé</source>
        <translation>busy</translation>
    </message>
    <message>
        <source>Le fichier existe.</source>
        <translation>The file exists.</translation>
    </message>
    <message>
        <source>Lecture des réglages de la caméra...</source>
        <translation>Reading the camera&apos;s settings...</translation>
    </message>
    <message>
        <source>Formats</source>
        <translation>Formats</translation>
    </message>
</context>
<context>
    <name>Messages</name>
    <message>
        <source>Erreur inconnue</source>
        <translation>Unknown error</translation>
    </message>
    <message>
        <source>Ce compresseur n&apos;existe pas.</source>
        <translation>There is no such compressor.</translation>
    </message>
    <message>
        <source>Impossible d&apos;enregistrer le fichier %1 : %2</source>
        <translation>The file %1 could not be saved: %2</translation>
    </message>
    <message>
        <source>L&apos;image de la caméra est vide ou d&apos;un format inconnu.</source>
        <translation>The camera&apos;s picture is empty or of an unknown format.</translation>
    </message>
    <message>
        <source>Impossible de coder l&apos;image JPEG : </source>
        <translation>The JPEG picture could not be encoded: </translation>
    </message>
    <message>
        <source>Il n&apos;y a pas une possibilité de rechercher un système d&apos;appareil-photo.<byte value="xd"/>
<byte value="xd"/>
Il finit un programme.</source>
        <translation>No camera could be found.<byte value="xd"/>
<byte value="xd"/>
The program ends.</translation>
    </message>
    <message>
        <source>Ces enregistrements, interrompus, n&apos;ont pas pu être réparés ; ils restent tels quels :</source>
        <translation>These interrupted recordings could not be repaired; they are left as they are:</translation>
    </message>
    <message>
        <source>Erreur dans l’envoi du message.</source>
        <translation>The message could not be sent.</translation>
    </message>
    <message>
        <source>Aucune image n&apos;est arrivée de la caméra : la photo n&apos;a pas été prise.</source>
        <translation>No picture came from the camera: the photo was not taken.</translation>
    </message>
    <message>
        <source>Impossible d&apos;écrire dans %1</source>
        <translation>Unable to write to %1</translation>
    </message>
    <message>
        <source>(%1 fichiers ; les %2 premiers :)</source>
        <translation>(%1 files; the first %2:)</translation>
    </message>
    <message>
        <source>… et %1 autres.</source>
        <translation>… and %1 more.</translation>
    </message>
    <message>
        <source>le disque est plein.</source>
        <translation>the disk is full.</translation>
    </message>
    <message>
        <source>le fichier a atteint la plus grande taille permise sur ce disque.</source>
        <translation>the file has reached the largest size this disk allows.</translation>
    </message>
    <message>
        <source>le fichier a été supprimé ou déplacé pendant l&apos;enregistrement.</source>
        <translation>the file was deleted or moved during the recording.</translation>
    </message>
    <message>
        <source>le dossier « %1 » n&apos;existe plus (il a été supprimé, renommé ou déplacé).</source>
        <translation>the folder “%1” no longer exists (it was deleted, renamed or moved).</translation>
    </message>
    <message>
        <source>il n&apos;est pas permis d&apos;écrire dans le dossier « %1 ».</source>
        <translation>writing to the folder “%1” is not allowed.</translation>
    </message>
    <message>
        <source>le support est protégé en écriture.</source>
        <translation>the medium is write-protected.</translation>
    </message>
    <message>
        <source>le support du dossier « %1 » a été retiré.</source>
        <translation>the medium of the folder “%1” was removed.</translation>
    </message>
    <message>
        <source>le support du dossier « %1 » ne répond plus (retiré ou défectueux).</source>
        <translation>the medium of the folder “%1” no longer responds (removed or faulty).</translation>
    </message>
    <message>
        <source>l&apos;arrêt a pris trop de temps.</source>
        <translation>stopping took too long.</translation>
    </message>
    <message>
        <source>la caméra ou le micro ne répond plus.</source>
        <translation>the camera or the microphone no longer responds.</translation>
    </message>
    <message>
        <source>erreur du système vidéo : %1</source>
        <translation>video system error: %1</translation>
    </message>
    <message>
        <source>L&apos;enregistrement s&apos;est arrêté : %1

Le fichier %2 est perdu.</source>
        <translation>The recording stopped: %1

The file %2 is lost.</translation>
    </message>
    <message>
        <source>Le fichier %1 contient ce qui a été enregistré jusque-là.</source>
        <translation>The file %1 holds what was recorded until then.</translation>
    </message>
    <message>
        <source>Rien n&apos;a pu être enregistré dans le fichier %1 ; il a été supprimé.</source>
        <translation>Nothing could be recorded in the file %1; it was deleted.</translation>
    </message>
    <message>
        <source>Le fichier %1 n&apos;a pas pu être terminé et ne peut pas être lu.</source>
        <translation>The file %1 could not be finished and cannot be played.</translation>
    </message>
    <message>
        <source>L&apos;enregistrement s&apos;est arrêté : %1

%2</source>
        <translation>The recording stopped: %1

%2</translation>
    </message>
    <message>
        <source>L&apos;arrêt de l&apos;enregistrement a échoué : %1

%2</source>
        <translation>Stopping the recording failed: %1

%2</translation>
    </message>
    <message>
        <source>Le fichier %1 a été terminé par la réparation des enregistrements ; il contient ce qui a été enregistré.</source>
        <translation>The file %1 was finished by the recordings&apos; repair; it holds what was recorded.</translation>
    </message>
    <message>
        <source>Le service des périphériques « %1 » ne répond pas : ses caméras et ses micros ne sont pas encore dans la liste.<byte value="xd"/>
Ils y seront ajoutés dès qu&apos;il répondra.</source>
        <translation>The device service “%1” does not answer: its cameras and microphones are not listed yet.<byte value="xd"/>
They will be added as soon as it answers.</translation>
    </message>
    <message>
        <source> », « </source>
        <translation>”, “</translation>
    </message>
    <message>
        <source>La caméra est branchée mais ne peut pas être ouverte : un autre programme l&apos;utilise peut-être.<byte value="xd"/>
Le programme continue d&apos;essayer de l&apos;ouvrir.</source>
        <translation>The camera is plugged in but cannot be opened: another program may be using it.<byte value="xd"/>
The program keeps trying to open it.</translation>
    </message>
    <message>
        <source>L&apos;image de la caméra s&apos;est arrêtée : %1

L&apos;aperçu a été relancé.</source>
        <translation>The camera&apos;s picture stopped: %1

The preview was started again.</translation>
    </message>
    <message>
        <source>Réparation des enregistrements interrompus…</source>
        <translation>Repairing interrupted recordings…</translation>
    </message>
    <message>
        <source>Le disque ne répond pas : la photo n&apos;a pas pu être enregistrée.</source>
        <translation>The disk does not respond: the picture could not be saved.</translation>
    </message>
    <message>
        <source>L&apos;arrêt de l&apos;enregistrement a échoué : %1</source>
        <translation>Stopping the recording failed: %1</translation>
    </message>
    <message>
        <source>L&apos;enregistrement s&apos;est arrêté : le micro a été débranché.</source>
        <translation>The recording stopped: the microphone was unplugged.</translation>
    </message>
    <message>
        <source>L&apos;enregistrement s&apos;est arrêté : le micro ne donnait plus de son.</source>
        <translation>The recording stopped: the microphone gave no more sound.</translation>
    </message>
    <message>
        <source>L&apos;enregistrement s&apos;est arrêté : la caméra ne donnait plus d&apos;image.</source>
        <translation>The recording stopped: the camera gave no more picture.</translation>
    </message>
    <message>
        <source>L&apos;enregistrement s&apos;est arrêté : la caméra a été débranchée.</source>
        <translation>The recording stopped: the camera was unplugged.</translation>
    </message>
    <message>
        <source>l&apos;accès à la caméra a été refusé.</source>
        <translation>access to the camera was refused.</translation>
    </message>
    <message>
        <source>un autre fichier a pris le nom de l&apos;enregistrement dans le dossier « %1 ».</source>
        <translation>another file took the recording&apos;s name in the folder “%1”.</translation>
    </message>
    <message>
        <source>La réparation de ces enregistrements interrompus a échoué et n&apos;a pas pu les remettre tels qu&apos;ils étaient (le disque est peut-être plein ou défectueux) :</source>
        <translation>The repair of these interrupted recordings failed and could not put them back as they were (the disk may be full or failing):</translation>
    </message>
    <message>
        <source>Aucun programme installé ne sait ouvrir l&apos;image « %1 ».
Installez une visionneuse d&apos;images, par exemple eog ou ristretto (paquets du même nom).</source>
        <translation>No installed program can open the picture “%1”.
Install a picture viewer, for example eog or ristretto (packages of the same name).</translation>
    </message>
    <message>
        <source>Aucun programme installé ne sait ouvrir la vidéo « %1 ».
Installez un lecteur vidéo, par exemple totem, vlc ou mpv (paquets du même nom).</source>
        <translation>No installed program can play the recording “%1”.
Install a video player, for example totem, vlc or mpv (packages of the same name).</translation>
    </message>
    <message>
        <source>Aucun programme installé ne sait ouvrir le fichier « %1 » (%2).
Installez un programme qui ouvre ce type de fichier.</source>
        <translation>No installed program can open the file “%1” (%2).
Install a program that opens this type of file.</translation>
    </message>
</context>
<context>
    <name>PreviewWindow</name>
    <message>
        <source>Disque trop lent : des images sont perdues</source>
        <translation>Disk too slow: frames are being lost</translation>
    </message>
    <message>
        <source>(Record : %1:%2:%3:%4)</source>
        <translation>(Record : %1:%2:%3:%4)</translation>
    </message>
    <message>
        <source>La caméra a été débranchée.<byte value="xd"/>
L&apos;image reviendra dès qu&apos;elle sera rebranchée.</source>
        <translation>The camera was unplugged.<byte value="xd"/>
The picture comes back as soon as it is plugged in again.</translation>
    </message>
    <message>
        <source>( Preview )</source>
        <translation>( Preview )</translation>
    </message>
    <message>
        <source>( Record )</source>
        <translation>( Record )</translation>
    </message>
    <message>
        <source>La caméra ne donne plus d&apos;image.<byte value="xd"/>
Nouvel essai en cours...</source>
        <translation>The camera gives no more picture.<byte value="xd"/>
Trying again...</translation>
    </message>
    <message>
        <source>( Finalisation... )</source>
        <translation>( Finishing... )</translation>
    </message>
    <message>
        <source>Ombra Viewer – Aperçu</source>
        <translation>Ombra Viewer – Preview</translation>
    </message>
    <message>
        <source>Image de la caméra</source>
        <translation>Camera picture</translation>
    </message>
</context>
</TS>
