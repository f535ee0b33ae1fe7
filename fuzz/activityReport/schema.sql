PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; BEGIN;
CREATE TABLE jobs (id INTEGER PRIMARY KEY, sent_time TEXT, completed_time TEXT,
  num_recipients INTEGER, num_confirmed INTEGER, num_unconfirmed INTEGER, num_failed INTEGER,
  pages_scanned INTEGER, attachment_size INTEGER, subject TEXT, sender TEXT);
CREATE TABLE addresses (job_id INTEGER NOT NULL REFERENCES jobs(id), position INTEGER NOT NULL,
  addr_type INTEGER, proc_state INTEGER, status_time TEXT, friendly_name TEXT, email TEXT,
  PRIMARY KEY (job_id, position));
