-- jobs.sql - a sample job database for the job tracker stand-in.
--
-- One working week of Internet Fax jobs sent from the office printer of a small architecture
-- practice. Every name, address and organisation here is invented. Build the database with
--
--     sqlite3 jobs.db < examples/jobs.sql
--
-- and point JTAPI_DATABASE at it. Texts are stored in UTF-8, so run the report with
-- SYSTEM_CHARSET=UTF-8.
--
-- Beside ordinary jobs, the week holds the cases a report has to cope with:
--   job 2   no recipients at all (no address rows)
--   job 3   seven recipients, more than a report shows, with To and Cc mixed
--   job 4   a recipient whose process state is unknown (NULL)
--   job 5   no sent time
--   job 6   a recipient without a friendly name, and one whose delivery failed
--   job 7   a subject of about 200 characters
--   job 8   no subject
--   job 9   a recipient without a status time
--   job 10  a process state outside the known ones (9)
--   jobs 13 to 18  partners abroad: subjects, senders and names in Japanese (half-width katakana
--           too), Chinese (simplified, then traditional), Korean, Turkish and Ukrainian. A report
--           prints them in every language whose printer encoding holds their letters; in the
--           others they are transliterated, or print as "?".
-- Process states: 0 sent, 1 delivered, 2 processed, 3 error, 4 failed, 5 rejected.
-- Address types: 0 To, 1 Cc. Times are device local time.

BEGIN;

CREATE TABLE jobs (
  id INTEGER PRIMARY KEY,
  sent_time TEXT, completed_time TEXT,
  num_recipients INTEGER, num_confirmed INTEGER, num_unconfirmed INTEGER,
  num_failed INTEGER, pages_scanned INTEGER, attachment_size INTEGER,
  subject TEXT, sender TEXT);
CREATE TABLE addresses (
  job_id INTEGER NOT NULL REFERENCES jobs(id), position INTEGER NOT NULL,
  addr_type INTEGER, proc_state INTEGER, status_time TEXT,
  friendly_name TEXT, email TEXT,
  PRIMARY KEY (job_id, position));

INSERT INTO jobs (id, sent_time, completed_time, num_recipients, num_confirmed, num_unconfirmed,
                  num_failed, pages_scanned, attachment_size, subject, sender) VALUES
  (1, '2024-03-11 08:47:12', '2024-03-11 08:52:03', 2, 2, 0, 0, 6, 412388,
   'Angebot Nr. 2024-118 – Fassadenplanung Haus B', 'juergen.weisskopf@atelier-lumen.example'),
  (2, '2024-03-11 09:15:00', '2024-03-11 09:15:02', 0, 0, 0, 0, 1, 18244,
   'Test page - scan profile 200 dpi', 'it-support@atelier-lumen.example'),
  (3, '2024-03-11 11:02:45', '2024-03-11 11:09:58', 7, 4, 1, 2, 3, 156902,
   'Einladung Baustellenbegehung 21.03. / Invitation visite de chantier',
   'helene.crepin@atelier-lumen.example'),
  (4, '2024-03-12 08:05:33', '2024-03-12 08:07:10', 2, 1, 1, 0, 2, 98120,
   'Facture F-20413 – honoraires février', 'compta@atelier-lumen.example'),
  (5, NULL, '2024-03-12 10:31:44', 1, 1, 0, 0, 1, 51733,
   'Zamówienie 77/03/2024 – potwierdzenie', 'lukasz.pedziwiatr@atelier-lumen.example'),
  (6, '2024-03-12 14:20:09', '2024-03-12 14:26:51', 3, 2, 0, 1, 9, 1240566,
   'Planos revisados planta 3 (rev. C)', 'begona.ibanez@atelier-lumen.example'),
  (7, '2024-03-13 09:41:27', '2024-03-13 09:44:02', 2, 2, 0, 0, 4, 233410,
   'Bestätigung der Terminverschiebung: Abnahme der Dachentwässerung, Innenhof Nord und Süd, '
   || 'Bauabschnitt 2, vom 14. auf den 19. März 2024; bitte die Unterlagen zur Dichtheitsprüfung '
   || 'bis Freitag nachreichen',
   'juergen.weisskopf@atelier-lumen.example'),
  (8, '2024-03-13 13:12:00', '2024-03-13 13:13:37', 1, 0, 1, 0, 2, 87340,
   NULL, 'scanner-2og@atelier-lumen.example'),
  (9, '2024-03-14 07:58:16', '2024-03-14 08:01:09', 2, 2, 0, 0, 1, 64002,
   'Attestation d''assurance décennale 2024', 'helene.crepin@atelier-lumen.example'),
  (10, '2024-03-14 16:45:50', '2024-03-14 16:52:31', 1, 0, 1, 0, 3, 140215,
   'Oferta serwisowa – klimatyzacja biura', 'lukasz.pedziwiatr@atelier-lumen.example'),
  (11, '2024-03-15 10:10:10', '2024-03-15 10:14:45', 4, 2, 0, 2, 5, 301877,
   'Meeting minutes 14 March - site coordination', 'helene.crepin@atelier-lumen.example'),
  (12, '2024-03-15 15:30:02', '2024-03-15 15:31:15', 1, 1, 0, 0, 2, 77410,
   'Lieferschein 5531 / Rücksendung Musterplatten', 'juergen.weisskopf@atelier-lumen.example'),
  (13, '2024-03-15 15:40:12', '2024-03-15 15:44:40', 3, 2, 1, 0, 4, 287330,
   '外装パネル見積書（第2版）のご送付', '田中宏@田中建築設計.example'),
  (14, '2024-03-15 15:52:03', '2024-03-15 15:55:21', 2, 1, 0, 1, 6, 512004,
   '幕墙设计图纸（修订版C）请查收', '王伟@筑城设计.example'),
  (15, '2024-03-15 16:05:30', '2024-03-15 16:08:02', 2, 2, 0, 0, 3, 198765,
   '帷幕牆施工圖說明（第三版）', '陳怡君@遠景建築.example'),
  (16, '2024-03-15 16:20:45', '2024-03-15 16:24:10', 2, 1, 1, 0, 2, 143220,
   '외벽 패널 견적서 송부 (2차)', '김민준@한빛건축.example'),
  (17, '2024-03-15 16:41:00', '2024-03-15 16:45:37', 2, 1, 0, 1, 5, 366001,
   'Cephe paneli teklifi: İzmir şantiyesi çizimleri', 'şükrü.doğan@yapı-mimarlık.example'),
  (18, '2024-03-15 17:02:18', '2024-03-15 17:06:55', 3, 3, 0, 0, 7, 421337,
   'Звіт про ґрунти: є зауваження до її висновків', 'олена.ґалаґан@проєкт-буд.example');

INSERT INTO addresses (job_id, position, addr_type, proc_state, status_time, friendly_name, email)
VALUES
  (1, 1, 0, 2, '2024-03-11 08:52:03', 'Käthe Brückner', 'k.brueckner@bauplan-hessler.example'),
  (1, 2, 1, 1, '2024-03-11 08:50:41', 'Günther Äbersold', 'g.aebersold@bauplan-hessler.example'),

  (3, 1, 0, 1, '2024-03-11 11:04:10', 'Élodie Marchand', 'e.marchand@bet-garonne.example'),
  (3, 2, 0, 2, '2024-03-11 11:06:22', 'José Ángel Muñoz Ortega',
   'jamunoz@construcciones-alameda.example'),
  (3, 3, 0, 1, '2024-03-11 11:04:55', 'Małgorzata Wójcik-Ziębińska',
   'm.wojcik@biuro-wislane.example'),
  (3, 4, 0, 0, '2024-03-11 11:03:01', 'François Lefèvre', 'f.lefevre@menuiserie-lefevre.example'),
  (3, 5, 1, 3, '2024-03-11 11:05:40', 'Søren Ålund', 'soren.alund@lysvaerk.example'),
  (3, 6, 1, 2, '2024-03-11 11:03:30', 'Begoña Ibáñez', 'begona.ibanez@atelier-lumen.example'),
  (3, 7, 1, 5, '2024-03-11 11:09:12', 'Anaïs Thérond', 'a.therond@geometres-causse.example'),

  (4, 1, 0, 1, '2024-03-12 08:06:02', 'Service comptabilité', 'compta@imprimerie-vasseur.example'),
  (4, 2, 1, NULL, '2024-03-12 08:06:05', 'Hélène Crépin', 'helene.crepin@atelier-lumen.example'),

  (5, 1, 0, 2, '2024-03-12 10:31:40', 'Grażyna Kołodziej', 'g.kolodziej@hurtownia-debowa.example'),

  (6, 1, 0, 1, '2024-03-12 14:22:17', NULL, 'obra.vallecas@construcciones-alameda.example'),
  (6, 2, 0, 4, '2024-03-12 14:26:40', 'Nuño Castañeda', 'n.castaneda@construcciones-alameda.example'),
  (6, 3, 1, 1, '2024-03-12 14:22:30', 'José Ángel Muñoz Ortega',
   'jamunoz@construcciones-alameda.example'),

  (7, 1, 0, 1, '2024-03-13 09:43:10', 'Käthe Brückner', 'k.brueckner@bauplan-hessler.example'),
  (7, 2, 1, 2, '2024-03-13 09:44:02', 'Björn Haßelberg', 'b.hasselberg@dachtechnik-sauer.example'),

  (8, 1, 0, 0, '2024-03-13 13:12:41', 'Réception', 'accueil@geometres-causse.example'),

  (9, 1, 0, 1, NULL, 'Élodie Marchand', 'e.marchand@bet-garonne.example'),
  (9, 2, 1, 2, '2024-03-14 08:00:48', 'Anaïs Thérond', 'a.therond@geometres-causse.example'),

  (10, 1, 0, 9, '2024-03-14 16:52:20', 'Zbigniew Ślęzak-Nowacki',
   'z.slezak@klimatech-poludnie.example'),

  (11, 1, 0, 1, '2024-03-15 10:11:58', 'Søren Ålund', 'soren.alund@lysvaerk.example'),
  (11, 2, 0, 3, '2024-03-15 10:14:30', 'Małgorzata Wójcik-Ziębińska',
   'm.wojcik@biuro-wislane.example'),
  (11, 3, 1, 2, '2024-03-15 10:10:44', 'Begoña Ibáñez', 'begona.ibanez@atelier-lumen.example'),
  (11, 4, 1, 5, '2024-03-15 10:14:45', 'François Lefèvre', 'f.lefevre@menuiserie-lefevre.example'),

  (12, 1, 0, 1, '2024-03-15 15:31:15', 'Warenannahme Fliesen Rösch',
   'wareneingang@fliesen-roesch.example'),

  (13, 1, 0, 2, '2024-03-15 15:44:40', '山本 美咲', 'm.yamamoto@kouzou-sekkei.example'),
  (13, 2, 0, 1, '2024-03-15 15:43:02', '佐藤 健太', '佐藤@構造設計.example'),
  (13, 3, 1, 0, '2024-03-15 15:42:15', 'ｱﾄﾘｴ･ﾙﾒﾝ 経理', 'keiri@atelier-lumen.example'),

  (14, 1, 0, 2, '2024-03-15 15:55:21', '李娜', 'li.na@zhucheng-sheji.example'),
  (14, 2, 1, 4, '2024-03-15 15:54:48', '张伟', '张伟@筑城设计.example'),

  (15, 1, 0, 2, '2024-03-15 16:08:02', '林志明', 'lin.zm@yuanjing-arch.example'),
  (15, 2, 0, 1, '2024-03-15 16:07:11', '黃淑芬', '黃淑芬@遠景建築.example'),

  (16, 1, 0, 2, '2024-03-15 16:24:10', '박서연', 'seoyeon.park@hanbit-arch.example'),
  (16, 2, 1, 0, '2024-03-15 16:22:51', '이도윤', '이도윤@한빛건축.example'),

  (17, 1, 0, 1, '2024-03-15 16:44:12', 'Ayşe Yılmaz', 'ayse.yilmaz@yapi-mimarlik.example'),
  (17, 2, 0, 4, '2024-03-15 16:45:37', 'Işıl Güneş Öztürk', 'işıl.öztürk@yapı-mimarlık.example'),

  (18, 1, 0, 2, '2024-03-15 17:06:55', 'Олена Ґалаґан', 'olena.galagan@proekt-bud.example'),
  (18, 2, 0, 2, '2024-03-15 17:05:40', 'Юрій Їжакевич', 'юрій@проєкт-буд.example'),
  (18, 3, 1, 1, '2024-03-15 17:04:03', 'Євгенія Кліщ', 'yevheniia.klishch@proekt-bud.example');

COMMIT;
